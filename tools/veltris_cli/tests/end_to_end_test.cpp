// The client against the real agent replaying a generated capture file under a
// private root: each request word as a table and as JSON, and the failures a
// user meets (wrong key, no agent, no key).
#include <gtest/gtest.h>

#include "tests/support/agent_harness.h"

namespace veltris::cli::testing {
namespace {

using namespace std::chrono_literals;

constexpr char kKey[] = "Sesame16";
constexpr char kFrames[] = "20000";

class ClientAgainstAgent : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new TempRoot;
    root_->setOpenKey(kKey);
    const std::string trace = (root_->path() / "trace.pcap").string();
    ProgramResult made = runProgram({MAKE_TRACE_PATH, trace, kFrames, "40"}, {});
    if (made.exitCode != 0) return;
    epmPort_ = freeTcpPort();
    agent_ = new AgentProcess;
    agent_->start(root_->path(), {trace + "@02:00:00:00:00:01"}, {"VELTRIS_EPM_PORT=" + std::to_string(epmPort_)});
    ready_ = agent_->waitForOutput(std::string("replayed: ") + kFrames + " frames", 60s) &&
             agent_->waitForOutput("To Terminate", 30s);
  }

  static void TearDownTestSuite() {
    if (agent_ != nullptr) {
      EXPECT_EQ(agent_->stop(), 0) << "TapsorSv did not stop cleanly";
    }
    delete agent_;
    delete root_;
    agent_ = nullptr;
    root_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(ready_) << (agent_ ? agent_->output() : "make_trace failed");
    if (!havePython()) GTEST_SKIP() << "no /usr/bin/python3 to read the JSON with";
  }

  static ProgramResult cli(std::vector<std::string> args, std::vector<std::string> environment = {}) {
    args.insert(args.begin(), VELTRIS_CLI_PATH);
    environment.push_back("VELTRIS_ROOT=" + root_->path().string());
    return runProgram(args, environment);
  }

  // The JSON reply to `request`, which must have succeeded.
  static std::string json(std::vector<std::string> request) {
    request.insert(request.begin(), "--json");
    ProgramResult result = cli(request);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
  }

  static TempRoot* root_;
  static AgentProcess* agent_;
  static uint16_t epmPort_;
  static bool ready_;
};

TempRoot* ClientAgainstAgent::root_ = nullptr;
AgentProcess* ClientAgainstAgent::agent_ = nullptr;
uint16_t ClientAgainstAgent::epmPort_ = 0;
bool ClientAgainstAgent::ready_ = false;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ClientAgainstAgent, TotalsLocallyAndOverTcp) {
  ProgramResult table = cli({"TOTAL"});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_TRUE(contains(table.out, "VELTRIS agent 19990415  ")) << table.out;
  EXPECT_TRUE(contains(table.out, "  Packet sequence       20000\n")) << table.out;

  std::string doc = json({"TOTAL"});
  EXPECT_EQ(evalJson(doc, "[r['tag'] for r in docs[0]['records']]"), "['TOT ']");
  EXPECT_EQ(evalJson(doc, "docs[0]['header']['version'], docs[0]['records'][0]['sequence']"), "('19990415', 20000)");
  EXPECT_EQ(evalJson(doc, "docs[0]['records'][0]['hostName'] != ''"), "True");

  ProgramResult tcp =
      cli({"--computer", "127.0.0.1", "--key", kKey, "TOTAL"}, {"VELTRIS_EPM_PORT=" + std::to_string(epmPort_)});
  ASSERT_EQ(tcp.exitCode, 0) << tcp.err;
  EXPECT_TRUE(contains(tcp.out, "  Packet sequence       20000\n")) << tcp.out;
}

TEST_F(ClientAgainstAgent, PartnerStatisticsAndWhatIsNewer) {
  std::string doc = json({"STATS_PRO", "0"});
  EXPECT_EQ(evalJson(doc, "{r['tag'] for r in docs[0]['records'][1:]}"), "{'STAT'}");
  EXPECT_EQ(evalJson(doc,
                     "[(r['protoAddr'], r['roleLabel']) for r in docs[0]['records'] "
                     "if r.get('station') == '*020000000001' and r['protoAddr'].startswith('IP')]"),
            "[('IP 10.0.0.1', 'Self')]");
  const std::string partners = evalJson(doc, "len(docs[0]['records']) - 1");
  EXPECT_GT(std::stoi(partners), 40);

  ProgramResult table = cli({"STATS_PRO", "0"});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_TRUE(contains(table.out, "Session Partner Statistics (" + partners + " partners)\n")) << table.out;
  EXPECT_TRUE(contains(table.out, "  1  *020000000001  IP 10.0.0.1")) << table.out;

  // Nothing has changed since the last frame of the file.
  EXPECT_EQ(evalJson(json({"STATS_PRO", kFrames}), "len(docs[0]['records'])"), "1");
}

TEST_F(ClientAgainstAgent, FollowAsksForWhatIsNewerThanTheLastReply) {
  std::string docs = json({"--repeat", "2", "--interval", "0", "--follow", "STATS_PRO"});
  EXPECT_EQ(evalJson(docs, "[d['request'] for d in docs]"), "['STATS_PRO 0', 'STATS_PRO 20000']");
  EXPECT_EQ(evalJson(docs, "len(docs[0]['records']) > 1, len(docs[1]['records'])"), "(True, 1)");
}

TEST_F(ClientAgainstAgent, DetailsOfTheLast300PacketsAndErrors) {
  std::string doc = json({"DETAILS", "0"});
  EXPECT_EQ(evalJson(doc, "len(docs[0]['records']) - 1"), "300");
  EXPECT_EQ(evalJson(doc, "sorted(r['sequence'] for r in docs[0]['records'][1:]) == list(range(19701, 20001))"),
            "True");
  EXPECT_EQ(evalJson(doc,
                     "{r['direction'] for r in docs[0]['records'][1:]} <= "
                     "{'<<  ', '<-  ', '<=  ', '  >>', '  ->', '  =>'}"),
            "True");
  EXPECT_EQ(evalJson(doc, "all(r['description'] and r['protocol'] for r in docs[0]['records'][1:])"), "True");

  ProgramResult table = cli({"DETAILS", "0"});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_TRUE(contains(table.out, "Packet details (300 packets)\n")) << table.out;
  EXPECT_LT(table.out.find("  19701  "), table.out.find("  20000  "));  // in capture order

  std::string errors = json({"ERRORS", "0"});
  EXPECT_EQ(evalJson(errors, "len(docs[0]['records']) > 1"), "True");
  EXPECT_EQ(evalJson(errors, "all(r['errorType'] for r in docs[0]['records'][1:])"), "True");
}

TEST_F(ClientAgainstAgent, BroadcastersGroupedByStation) {
  std::string high = json({"BCASTERS", "HIGH"});
  EXPECT_EQ(evalJson(high, "docs[0]['records'][0]['tag']"), "BHDR");
  EXPECT_EQ(evalJson(high, "docs[0]['records'][0]['entryCount'] == len(docs[0]['records']) - 1 > 0"), "True");
  EXPECT_EQ(evalJson(high,
                     "docs[0]['records'][0]['windowCount'] == "
                     "sum(r['windowCount'] for r in docs[0]['records'][1:])"),
            "True");
  std::string low = json({"BCASTERS", "LOW"});
  EXPECT_EQ(evalJson(low, "sorted((r['station'], r['protoAddr']) for r in docs[0]['records'][1:])"),
            evalJson(high, "sorted((r['station'], r['protoAddr']) for r in docs[0]['records'][1:])"));

  ProgramResult table = cli({"BCASTERS", "HIGH"});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_TRUE(contains(table.out, "Summary of Broadcasts from ")) << table.out;
  EXPECT_TRUE(contains(table.out, "Description of Last Broadcast")) << table.out;
}

TEST_F(ClientAgainstAgent, AdapterStatusOfTheReplayedFile) {
  std::string doc = json({"OID"});
  EXPECT_EQ(evalJson(doc,
                     "[(r['tag'], r['adapter'], r['openState'], r['station'], r['medium']) "
                     "for r in docs[0]['records']]"),
            "[('OID ', 1, 'Open', '020000000001', 'Ethernet')]");
  ProgramResult table = cli({"OID"});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_TRUE(contains(table.out, "\nAdapter 1\n")) << table.out;
  EXPECT_TRUE(contains(table.out, "  Station address       020000000001\n")) << table.out;
  EXPECT_TRUE(contains(table.out, "  Medium                Ethernet\n")) << table.out;
}

TEST_F(ClientAgainstAgent, HistoryListHoldsToday) {
  std::string doc = json({"HISTORY_LIST"});
  EXPECT_EQ(evalJson(doc, "[r['tag'] for r in docs[0]['records']][:1]"), "['TOT ']");
  EXPECT_EQ(evalJson(doc, "docs[0]['header']['date'] in [r.get('day') for r in docs[0]['records']]"), "True");
  ProgramResult table = cli({"HISTORY_LIST"});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_TRUE(contains(table.out, "History days (")) << table.out;
}

TEST_F(ClientAgainstAgent, FailuresSayWhatWentWrong) {
  ProgramResult wrongKey = cli({"--key", "WRONG", "TOTAL"});
  EXPECT_EQ(wrongKey.exitCode, 3);
  EXPECT_TRUE(contains(wrongKey.err, "Security check FAILED")) << wrongKey.err;
  EXPECT_EQ(wrongKey.out, "");

  TempRoot empty;
  ProgramResult noAgent =
      runProgram({VELTRIS_CLI_PATH, "--key", kKey, "TOTAL"}, {"VELTRIS_ROOT=" + empty.path().string()});
  EXPECT_EQ(noAgent.exitCode, 1);
  EXPECT_TRUE(contains(noAgent.err, "Connection failed with retcode 1722")) << noAgent.err;

  ProgramResult noKey = runProgram({VELTRIS_CLI_PATH, "TOTAL"}, {"VELTRIS_ROOT=" + empty.path().string()});
  EXPECT_EQ(noKey.exitCode, 2);
  EXPECT_TRUE(contains(noKey.err, "\"OpenKey\" is not set")) << noKey.err;

  ProgramResult closedPort = cli({"--computer", "127.0.0.1[1]", "TOTAL"});
  EXPECT_EQ(closedPort.exitCode, 1);
  EXPECT_TRUE(contains(closedPort.err, "Connection failed with retcode ")) << closedPort.err;

  ProgramResult noNumber = cli({"STATS_PRO"});
  EXPECT_EQ(noNumber.exitCode, 2);
  EXPECT_TRUE(contains(noNumber.err, "STATS_PRO needs a packet sequence number")) << noNumber.err;
}

}  // namespace
}  // namespace veltris::cli::testing
