// The whole agent replaying a capture: the traffic state codes that its reply
// headers carry follow the replayed traffic, second by second.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "common/reply_records.h"
#include "platform/access/agent_connection.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> tcpFrame(uint8_t src, uint8_t dst, uint8_t flags) {
  std::vector<uint8_t> f = {2, 0, 0, 0, 0, dst, 2, 0, 0, 0, 0, src, 0x08, 0x00,
                            0x45, 0, 0, 46, 0, 0, 0, 0, 64, 6, 0, 0, 10, 0, 0, src, 10, 0, 0, dst,
                            0x04, 0x01, 0x00, 0x8B, 0, 0, 0x10, 0, 0, 0, 0, 0, 0x50, flags, 0x20, 0, 0, 0, 0, 0};
  f.resize(60, 0);
  return f;
}

void writeTrace(const fs::path& file) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* out = pcap_dump_open(dead, file.c_str());
  const std::vector<std::vector<uint8_t>> frames = {tcpFrame(1, 5, 0x18), tcpFrame(5, 1, 0x18),
                                                    tcpFrame(1, 5, 0x14)};  // the last is a reset sent
  uint32_t second = 944000000;
  for (const auto& frame : frames) {
    pcap_pkthdr h{};
    h.ts.tv_sec = second++;
    h.caplen = h.len = static_cast<bpf_u_int32>(frame.size());
    pcap_dump(reinterpret_cast<u_char*>(out), &h, frame.data());
  }
  pcap_dump_close(out);
  pcap_close(dead);
}

struct AgentProcess {
  explicit AgentProcess(const fs::path& root, const fs::path& trace) {
    pid = fork();
    if (pid == 0) {
      int devnull = ::open("/dev/null", O_WRONLY);
      dup2(devnull, STDOUT_FILENO);
      setenv("VELTRIS_ROOT", root.c_str(), 1);
      setenv("VELTRIS_EPM_PORT", "0", 1);
      std::string param = trace.string() + "@02:00:00:00:00:01";
      execl(TAPSORSV_PATH, "TapsorSv", "-debug", param.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~AgentProcess() {
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
  }
  pid_t pid;
};

TEST(LiveCodes, ReplyHeadersFollowTheReplayedTraffic) {
  char pattern[] = "/tmp/veltris-taskbar-XXXXXX";
  fs::path root = mkdtemp(pattern);
  fs::create_directories(root / "etc/veltris");
  std::ofstream(root / "etc/veltris/registry.reg")
      << "Windows Registry Editor Version 5.00\n\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\n\"OpenKey\"=\"secret\"\n";
  writeTrace(root / "trace.pcap");
  setenv("VELTRIS_ROOT", root.c_str(), 1);
  std::vector<uint32_t> codes;  // each code as it first appears
  {
    AgentProcess agent(root, root / "trace.pcap");
    veltris::access::AgentConnection connection;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool opened = false;
    while (std::chrono::steady_clock::now() < deadline && (codes.empty() || codes.back() != 8)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (!opened) {
        if (connection.open(nullptr) != 0) continue;
        opened = connection.write("OPEN secret") == 0;
        if (!opened) connection.close();
        continue;
      }
      ASSERT_EQ(connection.write("TOTAL"), 0);
      veltris::ReplyHeader header;
      ASSERT_EQ(connection.read(&header, sizeof header), 0);
      uint32_t code = header.trafficState.get();
      if (codes.empty() || codes.back() != code) codes.push_back(code);
    }
    connection.close();
  }
  unsetenv("VELTRIS_ROOT");
  fs::remove_all(root);
  // The reset sent decides while the replay is fresh, then the line is quiet
  // (the frames carry the agent's clock, so no minute of silence yet).
  if (!codes.empty() && codes.front() == 0) codes.erase(codes.begin());
  EXPECT_EQ(codes, (std::vector<uint32_t>{1, 8}));
}

}  // namespace
