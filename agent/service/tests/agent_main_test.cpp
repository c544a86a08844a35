#include "agent/service/agent_main.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <thread>

#include "agent/core/history.h"
#include "agent/core/history_folder.h"
#include "tests/support/agent_clock.h"
#include "platform/capture/memory_device.h"
#include "platform/registry/registry.h"
#include "platform/system_root.h"
#include "tests/support/console_capture.h"

namespace veltris::agent {
namespace {

using testing::FakeClock;
using testing::localTime;
using testing::ScratchRoot;

class AgentMain : public ::testing::Test {
 protected:
  AgentMain() : clock(localTime(1999, 10, 15, 9, 0, 0)) {
    rt.clock = &clock;
    clock.stopEvent = &rt.stopEvent;
    clock.stopAt = clock.time + 60;
    options.historyPeriod = std::chrono::minutes(10);
    rt.openDevice = [this](std::string_view name, std::string& error) -> std::unique_ptr<capture::Device> {
      std::lock_guard lock(openedMutex);  // NetMonitor threads open their adapters concurrently
      opened.emplace_back(name);
      error = "no such device";
      return nullptr;
    };
  }

  reg::Registry registry() { return reg::Registry::system(); }

  std::string run() {
    veltris::agent::testing::ConsoleCapture captured;
    agentMain(rt, options);
    return captured.take();
  }

  ScratchRoot root;
  AgentRuntime rt;
  FakeClock clock;
  AgentOptions options;
  std::mutex openedMutex;
  std::vector<std::string> opened;

  std::vector<std::string> openedSorted() {
    std::lock_guard lock(openedMutex);
    std::vector<std::string> names = opened;
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(AgentMain, DefaultHistoryDirectoryIsCreatedUnderTheWindowsDirectory) {
  options.adapters = {"mem0"};
  std::string out = run();
  std::filesystem::path history = platform::windowsDirectory() / "VELTRIS History";
  EXPECT_TRUE(std::filesystem::is_directory(history));
  EXPECT_NE(out.find("TapsorSv Started - Version '19990415' \n"), std::string::npos);
  EXPECT_NE(out.find("Current Directory is '" + history.string() + "'\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(history / "19991015.TPT"));
  // start marker, then the record at stop
  EXPECT_EQ(std::filesystem::file_size(history / "19991015.TPT"), 2 * sizeof(TptRecord));
  EXPECT_TRUE(rt.stoppedEvent.isSet());
}

TEST_F(AgentMain, DataPathFromTheRegistryAndMissingParentLeavesDirectoryUnchanged) {
  std::filesystem::path wanted = root.path() / "hist";
  ASSERT_EQ(registry().setString(kParametersKey, "DataPath", wanted.string()), reg::kSuccess);
  run();
  EXPECT_TRUE(std::filesystem::exists(wanted / "19991015.TPT"));

  AgentRuntime again;
  again.clock = &clock;
  clock.stopEvent = &again.stopEvent;
  clock.stopAt = clock.time + 60;
  ASSERT_EQ(chdir(root.path().c_str()), 0);
  ASSERT_EQ(registry().setString(kParametersKey, "DataPath", (root.path() / "no/such/dir").string()), reg::kSuccess);
  veltris::agent::testing::ConsoleCapture captured;
  agentMain(again, options);
  std::string out = captured.take();
  EXPECT_NE(out.find("Current Directory is '" + root.path().string() + "'"), std::string::npos);
  // Said, and nothing written where the agent started instead.
  EXPECT_NE(out.find("ERROR - The history folder '" + (root.path() / "no/such/dir").string() + "' cannot be made: "
                     "No such file or directory"), std::string::npos) << out;
  EXPECT_NE(out.find("History file 19991015.TPT in '" + (root.path() / "no/such/dir").string() + "' not written"),
            std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(root.path() / "19991015.TPT"));
  EXPECT_FALSE(std::filesystem::exists(root.path() / "19991015.TPS"));
  ASSERT_EQ(registry().setString(kParametersKey, "DataPath", root.path().string()), reg::kSuccess);
  std::string problem;
  ASSERT_TRUE(enterHistoryFolder(root.path().string(), problem));
}

TEST_F(AgentMain, ExportListOfFiveMonitorsTheFirstFour) {
  std::vector<std::string> devices;
  for (const char* name : {"a0", "a1", "a2", "a3", "a4"}) devices.push_back(std::string(kDevicePrefix) + name);
  ASSERT_EQ(registry().setMultiString(kLinkageKey, "Export", devices), reg::kSuccess);
  std::string out = run();
  EXPECT_EQ(rt.global.adapterCount, 4);
  EXPECT_STREQ(rt.global.nics[3]->adapterName, "a3");
  EXPECT_STREQ(rt.global.nics[0]->deviceName, "\\Device\\Tapsor_a0");
  EXPECT_NE(out.find("Creating NetMonitor Thread for Adapter \\Device\\Tapsor_a0\n"), std::string::npos);
  EXPECT_EQ(out.find("Tapsor_a4"), std::string::npos);
  EXPECT_NE(out.find("Adapter limit of 4 reached: a4 is not monitored\n"), std::string::npos) << out;
  EXPECT_EQ(openedSorted().size(), 4u);
}

TEST_F(AgentMain, DebugParamsReplaceTheExportList) {
  ASSERT_EQ(registry().setMultiString(kLinkageKey, "Export", {"\\Device\\Tapsor_reg0"}), reg::kSuccess);
  options.adapters = {"eth9", "/tmp/trace.pcap"};
  run();
  ASSERT_EQ(rt.global.adapterCount, 2);
  EXPECT_STREQ(rt.global.nics[1]->adapterName, "/tmp/trace.pcap");
  EXPECT_EQ(openedSorted(), (std::vector<std::string>{"/tmp/trace.pcap", "eth9"}));
}

// Paths are taken where the agent starts, not in the history folder it moves to.
TEST_F(AgentMain, RelativeCaptureFilePathsAreTakenFromTheStartingDirectory) {
  std::filesystem::create_directories(root.path() / "traces");
  ASSERT_EQ(chdir((root.path() / "traces").c_str()), 0);
  options.adapters = {"trace.pcap@02:00:00:00:00:05", "../up.pcap", "eth7"};
  run();
  std::vector<std::string> expected{(root.path() / "traces/trace.pcap").string() + "@02:00:00:00:00:05",
                                    (root.path() / "up.pcap").string(), "eth7"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(openedSorted(), expected);
}

// In the foreground an agent that can capture nothing ends with status 1; the
// service keeps answering requests.
TEST_F(AgentMain, NoAdapterOpenedEndsAForegroundRunButNotTheService) {
  options.adapters = {"eth7", "eth8"};
  rt.debug = true;
  std::string out = run();
  EXPECT_EQ(rt.exitCode, 1);
  EXPECT_NE(out.find("none of the adapters could be opened"), std::string::npos) << out;
  EXPECT_NE(out.find("TapsorSv -list"), std::string::npos);
  EXPECT_EQ(out.find("Creating ServerRPC Thread"), std::string::npos);

  AgentRuntime service;
  service.clock = &clock;
  clock.stopEvent = &service.stopEvent;
  clock.stopAt = clock.time + 60;
  service.openDevice = rt.openDevice;
  bool serverStarted = false;
  options.startServer = [&](AgentRuntime&) { serverStarted = true; };
  veltris::agent::testing::ConsoleCapture console1;
  agentMain(service, options);
  out = console1.take();
  EXPECT_EQ(service.exitCode, 0);
  EXPECT_TRUE(serverStarted);
  EXPECT_NE(out.find("the service keeps running and answers requests without capture"), std::string::npos) << out;
}

TEST_F(AgentMain, StartWarnsWhenEveryUserCanReadTheAccessKey) {
  ASSERT_EQ(registry().setString(kParametersKey, "OpenKey", "Secret"), reg::kSuccess);
  ASSERT_EQ(chmod(platform::registryFile().c_str(), 0644), 0);
  EXPECT_NE(run().find("WARNING - " + platform::registryFile().string() + " holds the access key"), std::string::npos);
  ASSERT_EQ(chmod(platform::registryFile().c_str(), 0640), 0);
  AgentRuntime again;
  again.clock = &clock;
  clock.stopEvent = &again.stopEvent;
  clock.stopAt = clock.time + 60;
  veltris::agent::testing::ConsoleCapture console2;
  agentMain(again, options);
  EXPECT_EQ(console2.take().find("WARNING"), std::string::npos);
}

TEST_F(AgentMain, AccessKeyFromRegistryOrRandomWhenAbsent) {
  GlobalArea global;
  readAccessParameters(global);
  EXPECT_NE(global.accessKey[0], 0);  // random, never empty

  ASSERT_EQ(registry().setString(kParametersKey, "OpenKey", "Secret"), reg::kSuccess);
  ASSERT_EQ(registry().setNumber(kParametersKey, "AutoIpName", 1), reg::kSuccess);
  readAccessParameters(global);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(global.accessKey), 6), "Secret");
  for (int i = 6; i < 16; ++i) EXPECT_EQ(global.accessKey[i], 0);
  EXPECT_EQ(global.autoIpName.load(), 1u);

  ASSERT_EQ(registry().setString(kParametersKey, "OpenKey", "0123456789ABCDEFGHIJ"), reg::kSuccess);
  readAccessParameters(global);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(global.accessKey), 16), "0123456789ABCDEF");
}

TEST_F(AgentMain, MalformedRegistryGivesDefaultsAndIsLeftAsItWas) {
  std::filesystem::create_directories(platform::registryFile().parent_path());
  const std::string junk = "this is not a registry export\n[broken\n";
  std::ofstream(platform::registryFile()) << junk;
  veltris::agent::testing::ConsoleCapture captured;
  GlobalArea global;
  readAccessParameters(global);
  std::string out = captured.take();
  EXPECT_NE(out.find("registry file"), std::string::npos);
  EXPECT_NE(global.accessKey[0], 0);
  std::ifstream in(platform::registryFile());
  std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, junk);
}

TEST_F(AgentMain, ShutdownRoutineWaitsForTheStoppedEventAndReportsInOrder) {
  std::vector<uint32_t> states;
  rt.reportStatus = [&](uint32_t state, uint32_t, uint32_t) {
    states.push_back(state);
    return true;
  };
  bool serverStopped = false;
  rt.stopServer = [&] { serverStopped = true; };
  SystemClock realClock;  // the loop really waits; the stop event ends the wait
  rt.clock = &realClock;
  std::thread loop([&] { runHistoryLoop(rt, std::chrono::minutes(10)); });
  veltris::agent::testing::ConsoleCapture captured;
  shutdownRoutine(rt);
  std::string out = captured.take();
  loop.join();
  EXPECT_EQ(out, "TapsorSv shutdown in progress.\n");
  EXPECT_TRUE(serverStopped);
  EXPECT_TRUE(rt.stoppedEvent.isSet());
  EXPECT_EQ(states, (std::vector<uint32_t>{3, 3, 3, 1}));
}

}  // namespace
}  // namespace veltris::agent
