// The whole agent replaying a capture file: TapsorSv runs as a program, and its
// history files must hold the counts worked out by hand for the file below.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/records.h"

namespace {

namespace fs = std::filesystem;

struct TraceWriter {
  explicit TraceWriter(const std::string& file) {
    dead = pcap_open_dead(DLT_EN10MB, 65535);
    out = pcap_dump_open(dead, file.c_str());
  }
  ~TraceWriter() {
    pcap_dump_close(out);
    pcap_close(dead);
  }
  void add(std::vector<uint8_t> frame) {
    if (frame.size() < 60) frame.resize(60);
    pcap_pkthdr h{};
    h.ts.tv_sec = 944000000 + count++;
    h.caplen = h.len = static_cast<bpf_u_int32>(frame.size());
    pcap_dump(reinterpret_cast<u_char*>(out), &h, frame.data());
  }
  pcap_t* dead;
  pcap_dumper_t* out;
  int count = 0;
};

std::vector<uint8_t> ethernet(uint8_t dst, uint8_t src, uint16_t type) {
  std::vector<uint8_t> f = {2, 0, 0, 0, 0, dst, 2, 0, 0, 0, 0, src, uint8_t(type >> 8), uint8_t(type)};
  if (dst == 0xFF) std::fill(f.begin(), f.begin() + 6, 0xFF);
  return f;
}

// TCP segment of `total` bytes on the wire between 10.0.0.src and 10.0.0.dst.
std::vector<uint8_t> tcp(uint8_t src, uint8_t dst, uint32_t seq, uint8_t flags, size_t total) {
  std::vector<uint8_t> f = ethernet(dst, src, 0x0800);
  uint16_t ipLength = static_cast<uint16_t>(total - 14);
  std::vector<uint8_t> ip = {0x45, 0, uint8_t(ipLength >> 8), uint8_t(ipLength), 0, 0, 0, 0, 64, 6, 0, 0,
                             10, 0, 0, src, 10, 0, 0, dst};
  std::vector<uint8_t> t = {0x04, 0x01, 0x00, 0x8B, uint8_t(seq >> 24), uint8_t(seq >> 16), uint8_t(seq >> 8),
                            uint8_t(seq), 0, 0, 0, 0, 0x50, flags, 0x20, 0, 0, 0, 0, 0};
  f.insert(f.end(), ip.begin(), ip.end());
  f.insert(f.end(), t.begin(), t.end());
  f.resize(total, 0xAB);
  return f;
}

std::vector<uint8_t> arpRequest(uint8_t sender, uint8_t target) {
  std::vector<uint8_t> f = ethernet(0xFF, sender, 0x0806);
  std::vector<uint8_t> a = {0, 1, 8, 0, 6, 4, 0, 1, 2, 0, 0, 0, 0, sender, 10, 0, 0, sender,
                            0, 0, 0, 0, 0, 0, 10, 0, 0, target};
  f.insert(f.end(), a.begin(), a.end());
  return f;
}

template <typename Record>
std::vector<Record> readRecords(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Record> records(bytes.size() / sizeof(Record));
  std::memcpy(records.data(), bytes.data(), records.size() * sizeof(Record));
  return records;
}

std::string readAll(int fd, const std::string& until, std::chrono::seconds limit) {
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + limit;
  char buffer[4096];
  while (text.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    else if (n == 0) break;
    else std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return text;
}

TEST(Replay, HistoryFilesHoldTheFilesCounts) {
  char pattern[] = "/tmp/veltris-replay-XXXXXX";
  fs::path root = mkdtemp(pattern);
  fs::path trace = root / "trace.pcap";
  {
    TraceWriter w(trace.string());
    // this PC is .1; it sends 4 data segments to .5 (one of 1514 bytes), .5 answers with 3
    w.add(tcp(1, 5, 1000, 0x18, 100));
    w.add(tcp(5, 1, 7000, 0x18, 120));
    w.add(tcp(1, 5, 1100, 0x18, 200));
    w.add(tcp(1, 5, 1300, 0x18, 1514));
    w.add(tcp(5, 1, 7100, 0x18, 80));
    w.add(tcp(1, 5, 2800, 0x18, 300));
    w.add(tcp(5, 1, 7200, 0x18, 90));
    w.add(tcp(1, 5, 3100, 0x14, 60));  // reset: an error frame sent
    w.add(arpRequest(9, 1));           // received broadcasts from .9: no partner
    w.add(arpRequest(9, 5));
    w.add(arpRequest(1, 9));           // this PC's own broadcast
  }

  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGINT, SIG_IGN);  // as a shell starts a background job: Ctrl-C must still stop it
    dup2(pipeFds[1], STDOUT_FILENO);
    setenv("VELTRIS_ROOT", root.c_str(), 1);
    setenv("TZ", "UTC", 1);
    setenv("VELTRIS_EPM_PORT", "0", 1);  // leave port 135 to a real agent
    std::string param = trace.string() + "@02:00:00:00:00:01";
    execl(TAPSORSV_PATH, "TapsorSv", "-debug", param.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
  std::string out = readAll(pipeFds[0], "replayed", std::chrono::seconds(20));
  kill(pid, SIGINT);
  out += readAll(pipeFds[0], "\x04", std::chrono::seconds(10));  // to the end of its output
  int status = 0;
  waitpid(pid, &status, 0);
  close(pipeFds[0]);
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(out.find("Stopping VELTRIS Agent Service.\n"), std::string::npos) << out;

  fs::path history = root / "var/lib/veltris/VELTRIS History";
  std::vector<fs::path> tpt, tps;
  for (const auto& entry : fs::directory_iterator(history)) {
    (entry.path().extension() == ".TPT" ? tpt : tps).push_back(entry.path());
  }
  ASSERT_EQ(tpt.size(), 1u) << out;
  ASSERT_EQ(tps.size(), 1u) << out;

  auto totals = readRecords<veltris::TptRecord>(tpt[0]);
  ASSERT_EQ(totals.size(), 2u);  // start marker, record at stop
  const veltris::TptRecord& r = totals[1];
  EXPECT_EQ(r.framesSent.get(), 4u);
  EXPECT_FLOAT_EQ(r.bytesSent.get(), 100 + 200 + 1514 + 300);
  EXPECT_EQ(r.framesReceived.get(), 3u);
  EXPECT_FLOAT_EQ(r.bytesReceived.get(), 120 + 80 + 90);
  EXPECT_EQ(r.errorsSent.get(), 1u);
  EXPECT_EQ(r.errorsReceived.get(), 0u);
  EXPECT_EQ(r.broadcastsReceived.get(), 2u);
  EXPECT_EQ(r.broadcastsSent.get(), 1u);

  auto partners = readRecords<veltris::TpsRecord>(tps[0]);
  ASSERT_EQ(partners.size(), 2u);
  const veltris::PartnerRecord& self = partners[0].partner;
  const veltris::PartnerRecord& peer = partners[1].partner;
  EXPECT_STREQ(self.station, "*020000000001");
  EXPECT_STREQ(self.protoAddr, "IP 10.0.0.1");
  EXPECT_EQ(self.self.get(), 1u);
  EXPECT_STREQ(self.roleLabel, "Self");
  EXPECT_EQ(self.framesSent.get(), 4u);
  EXPECT_EQ(self.framesReceived.get(), 3u);
  EXPECT_EQ(self.errors.get(), 1u);
  EXPECT_EQ(self.broadcasts.get(), 1u);
  EXPECT_FLOAT_EQ(self.bytesSent.get(), 2114.0f);
  EXPECT_STREQ(peer.station, "020000000005");
  EXPECT_STREQ(peer.protoAddr, "IP 10.0.0.5");
  EXPECT_EQ(peer.framesSent.get(), 3u);
  EXPECT_EQ(peer.framesReceived.get(), 4u);
  EXPECT_FLOAT_EQ(peer.bytesReceived.get(), 2114.0f);
  fs::remove_all(root);
}

}  // namespace
