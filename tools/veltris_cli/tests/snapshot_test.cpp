// Snapshots end to end: the real agent replays a capture file, the client saves
// its "SNAPSHOT" reply, and then the snapshot must answer a console's requests
// with the records the live agent gives, its dumps must read in tshark as the
// capture format they name, and the exported pcap files must hold the replayed
// frames' first 256 bytes and wire lengths.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <iterator>

#include "tests/support/agent_harness.h"

namespace veltris::cli::testing {
namespace {

using namespace std::chrono_literals;

constexpr char kKey[] = "Sesame16";
constexpr int kFrames = 2500;
constexpr int kKeptFrames = 300;
constexpr char kTshark[] = "/usr/bin/tshark";

struct Frame {
  uint32_t wireLength = 0;
  int64_t seconds = 0;
  std::vector<uint8_t> bytes;
};

std::vector<Frame> readWithLibpcap(const std::string& path, int& linkType) {
  std::vector<Frame> frames;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* in = pcap_open_offline(path.c_str(), error);
  if (in == nullptr) {
    ADD_FAILURE() << error;
    return frames;
  }
  linkType = pcap_datalink(in);
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  while (pcap_next_ex(in, &header, &data) == 1) {
    frames.push_back({header->len, header->ts.tv_sec, std::vector<uint8_t>(data, data + header->caplen)});
  }
  pcap_close(in);
  return frames;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t le32(const std::string& b, size_t at) {
  return uint32_t{static_cast<uint8_t>(b[at])} | uint32_t{static_cast<uint8_t>(b[at + 1])} << 8 |
         uint32_t{static_cast<uint8_t>(b[at + 2])} << 16 | uint32_t{static_cast<uint8_t>(b[at + 3])} << 24;
}

// The "DUMP_n" items of a snapshot file, read here without the client's reader.
std::vector<std::string> dumpItems(const std::string& file) {
  std::vector<std::string> dumps;
  for (size_t at = 4; at + 4 <= file.size();) {
    const uint32_t length = le32(file, at);
    if (length < 16 || at + 4 + length > file.size()) break;
    if (file.compare(at + 4, 5, "DUMP_") == 0) dumps.push_back(file.substr(at + 20, length - 16));
    at += 4 + length;
  }
  return dumps;
}

class SnapshotOfAReplayingAgent : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new TempRoot;
    root_->setOpenKey(kKey);
    trace_ = (root_->path() / "trace.pcap").string();
    if (runProgram({MAKE_TRACE_PATH, trace_, std::to_string(kFrames), "60"}, {}).exitCode != 0) return;
    agent_ = new AgentProcess;
    epmPort_ = freeTcpPort();
    agent_->start(root_->path(), {trace_ + "@02:00:00:00:00:01"}, {"VELTRIS_EPM_PORT=" + std::to_string(epmPort_)});
    ready_ = agent_->waitForOutput("replayed: " + std::to_string(kFrames) + " frames", 60s) &&
             agent_->waitForOutput("To Terminate", 30s);
    if (!ready_) return;
    snapshot_ = (root_->path() / "saved.VSN").string();
    saved_ = cli({"--save", snapshot_, "SNAPSHOT"});
  }

  static void TearDownTestSuite() {
    if (agent_ != nullptr) {
      EXPECT_EQ(agent_->stop(), 0);
    }
    delete agent_;
    delete root_;
    agent_ = nullptr;
    root_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(ready_) << (agent_ ? agent_->output() : "make_trace failed");
    ASSERT_EQ(saved_.exitCode, 0) << saved_.err;
  }

  static ProgramResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), VELTRIS_CLI_PATH);
    return runProgram(args, {"VELTRIS_ROOT=" + root_->path().string(), "VELTRIS_EPM_PORT=" + std::to_string(epmPort_)});
  }

  static std::vector<Frame> lastReplayedFrames() {
    int linkType = 0;
    std::vector<Frame> all = readWithLibpcap(trace_, linkType);
    EXPECT_EQ(all.size(), static_cast<size_t>(kFrames));
    if (all.size() > kKeptFrames) all.erase(all.begin(), all.end() - kKeptFrames);
    return all;
  }

  static uint16_t epmPort_;
  static TempRoot* root_;
  static AgentProcess* agent_;
  static std::string trace_;
  static std::string snapshot_;
  static ProgramResult saved_;
  static bool ready_;
};

uint16_t SnapshotOfAReplayingAgent::epmPort_ = 0;
TempRoot* SnapshotOfAReplayingAgent::root_ = nullptr;
AgentProcess* SnapshotOfAReplayingAgent::agent_ = nullptr;
std::string SnapshotOfAReplayingAgent::trace_;
std::string SnapshotOfAReplayingAgent::snapshot_;
ProgramResult SnapshotOfAReplayingAgent::saved_;
bool SnapshotOfAReplayingAgent::ready_ = false;

TEST_F(SnapshotOfAReplayingAgent, AnswersTheConsolesRequestsWithTheLiveAgentsRecords) {
  if (!havePython()) GTEST_SKIP() << "no /usr/bin/python3 to read the JSON with";
  // Fields that only say how long ago something was.
  const std::string records =
      "[{k: v for k, v in r.items() if k not in ('now', 'windowStart', 'lastMinuteCount', 'secondsSinceReceived')}"
      " for r in docs[0]['records']]";
  // A replayed file runs on its own clock: the day is the capture's.
  char today[16];
  const std::time_t captured = static_cast<std::time_t>(lastReplayedFrames().back().seconds);
  std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&captured));
  const std::vector<std::vector<std::string>> requests = {
      {"TOTAL"},         {"STATS_PRO", "0"},        {"STATS_PRO", std::to_string(kFrames)},
      {"DETAILS", "0"},  {"DETAILS", "2400"},       {"ERRORS", "0"},
      {"HISTORY_LIST"},  {"TPT", today},            {"TPS", today},
      {"OID"},           {"BCASTERS", "HIGH"},      {"BCASTERS", "LOW"},
      {"BCASTSENT", "HIGH"}, {"BCASTSENT", "LOW"},  {"CMD", "SUBNET"},
  };
  for (const std::vector<std::string>& request : requests) {
    std::vector<std::string> live = {"--json"};
    live.insert(live.end(), request.begin(), request.end());
    std::vector<std::string> stored = {"--json", "--snapshot", snapshot_};
    stored.insert(stored.end(), request.begin(), request.end());
    const ProgramResult fromAgent = cli(live);
    const ProgramResult fromSnapshot = cli(stored);
    ASSERT_EQ(fromAgent.exitCode, 0) << fromAgent.err;
    ASSERT_EQ(fromSnapshot.exitCode, 0) << fromSnapshot.err;
    const std::string liveRecords = evalJson(fromAgent.out, records);
    EXPECT_NE(liveRecords.find("'tag'"), std::string::npos) << fromAgent.out;
    EXPECT_EQ(evalJson(fromSnapshot.out, records), liveRecords) << request[0];
  }
  const std::string partners = evalJson(cli({"--json", "--snapshot", snapshot_, "STATS_PRO", "0"}).out,
                                        "len(docs[0]['records'])");
  EXPECT_GT(std::stoi(partners), 40);

  // A path the agent may not write is refused in words and with a failing status.
  ProgramResult refused = cli({"SNAPSHOT", (root_->path() / "elsewhere.VSN").string()});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.out.find("is not permitted"), std::string::npos) << refused.out;
  EXPECT_FALSE(std::filesystem::exists(root_->path() / "elsewhere.VSN"));

  // A command the snapshot did not store fails, and says why.
  ProgramResult missing = cli({"--snapshot", snapshot_, "CMD", "NETSTAT", "-a"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("the snapshot holds no reply to this request"), std::string::npos) << missing.err;
  ProgramResult notSnapshot = cli({"--snapshot", trace_, "TOTAL"});
  EXPECT_EQ(notSnapshot.exitCode, 1);
  EXPECT_NE(notSnapshot.err.find("the file is not a VELTRIS snapshot"), std::string::npos) << notSnapshot.err;
}

TEST_F(SnapshotOfAReplayingAgent, SavedFromARemoteAgentToo) {
  const std::string remote = (root_->path() / "remote.VSN").string();
  ProgramResult saved = cli({"--computer", "127.0.0.1", "--key", kKey, "--save", remote, "SNAPSHOT"});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  ProgramResult totals = cli({"--snapshot", remote, "TOTAL"});
  ASSERT_EQ(totals.exitCode, 0) << totals.err;
  EXPECT_NE(totals.out.find("  Packet sequence       " + std::to_string(kFrames) + "\n"), std::string::npos)
      << totals.out;
  EXPECT_EQ(dumpItems(readFile(remote)).size(), 1u);
}

TEST_F(SnapshotOfAReplayingAgent, InvertedDumpReadsInTsharkAsTheReplayedFrames) {
  const std::vector<std::string> dumps = dumpItems(readFile(snapshot_));
  ASSERT_EQ(dumps.size(), 1u);
  std::string image = dumps[0];
  for (char& c : image) c = static_cast<char>(~static_cast<unsigned char>(c));
  ASSERT_EQ(image.substr(0, 4), "RTSS");
  const fs::path capture = root_->path() / "dump.cap";
  std::ofstream(capture, std::ios::binary) << image;

  ProgramResult fields = runProgram(
      {kTshark, "-r", capture.string(), "-T", "fields", "-e", "frame.len", "-e", "frame.cap_len"}, {});
  ProgramResult type = runProgram({"/usr/bin/capinfos", "-t", capture.string()}, {});
  ASSERT_EQ(fields.exitCode, 0) << fields.err;
  EXPECT_NE(type.out.find("NetMon 1.x"), std::string::npos) << type.out;

  const std::vector<Frame> expected = lastReplayedFrames();
  std::istringstream lines(fields.out);
  std::string line;
  size_t k = 0;
  for (; std::getline(lines, line) && k < expected.size(); ++k) {
    const size_t stored = std::min<size_t>(expected[k].bytes.size(), 256);
    EXPECT_EQ(line.substr(0, line.find('\t')), std::to_string(expected[k].wireLength)) << "frame " << k;
    const std::string rest = line.substr(line.find('\t') + 1);
    EXPECT_EQ(rest.substr(0, rest.find('\t')), std::to_string(stored)) << "frame " << k;
  }
  EXPECT_EQ(k, expected.size());
}

TEST_F(SnapshotOfAReplayingAgent, ExportedPcapHoldsEveryFrameAsReplayed) {
  const std::string prefix = (root_->path() / "exported").string();
  ProgramResult exported = cli({"export-pcap", snapshot_, prefix});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(exported.out, "Adapter 1: 300 frames -> " + prefix + "_1.pcap (Ethernet)\n");

  const std::string file = prefix + "_1.pcap";
  ProgramResult tshark = runProgram({kTshark, "-r", file, "-T", "fields", "-e", "frame.len"}, {});
  ASSERT_EQ(tshark.exitCode, 0) << tshark.err;
  EXPECT_EQ(std::count(tshark.out.begin(), tshark.out.end(), '\n'), kKeptFrames);

  int linkType = 0;
  const std::vector<Frame> frames = readWithLibpcap(file, linkType);
  EXPECT_EQ(linkType, DLT_EN10MB);
  const std::vector<Frame> expected = lastReplayedFrames();
  ASSERT_EQ(frames.size(), expected.size());
  for (size_t k = 0; k < frames.size(); ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    EXPECT_EQ(frames[k].wireLength, expected[k].wireLength);
    const size_t stored = std::min<size_t>(expected[k].bytes.size(), 256);
    ASSERT_EQ(frames[k].bytes.size(), stored);
    EXPECT_TRUE(std::equal(frames[k].bytes.begin(), frames[k].bytes.end(), expected[k].bytes.begin()));
    // The replay keeps the capture's time stamps; the dump holds whole seconds plus milliseconds.
    EXPECT_LE(std::llabs(frames[k].seconds - expected[k].seconds), 1) << frames[k].seconds;
  }

  ProgramResult usage = cli({"export-pcap"});
  EXPECT_EQ(usage.exitCode, 2);
  ProgramResult unreadable = cli({"export-pcap", trace_, prefix});
  EXPECT_EQ(unreadable.exitCode, 1);
  EXPECT_NE(unreadable.err.find("the file is not a VELTRIS snapshot"), std::string::npos) << unreadable.err;
}

}  // namespace
}  // namespace veltris::cli::testing
