#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <signal.h>

#include <map>
#include <thread>

#include "tests/support/agent_clock.h"
#include "agent/service/service_host.h"
#include "agent/service/service_status.h"
#include "tests/support/console_capture.h"
#include "common/version.h"

namespace veltris::agent::service {
namespace {

class FakeManager final : public veltris::service::ServiceManager {
 public:
  long connect() override {
    calls.push_back("connect");
    return connectError;
  }
  long createService(const veltris::service::ServiceConfig& config) override {
    calls.push_back("create " + config.name);
    created = config;
    if (createError != 0) return createError;
    if (states.count(config.name)) return veltris::service::kErrorServiceExists;
    states[config.name] = kStopped;
    return 0;
  }
  long openService(std::string_view name) override {
    calls.push_back("open " + std::string(name));
    return states.count(std::string(name)) ? 0 : veltris::service::kErrorServiceDoesNotExist;
  }
  long startService(std::string_view name) override {
    calls.push_back("start " + std::string(name));
    uint32_t& s = states[std::string(name)];
    if (s == kRunning) return veltris::service::kErrorServiceAlreadyRunning;
    s = kRunning;
    return 0;
  }
  long stopService(std::string_view name) override {
    calls.push_back("stop " + std::string(name));
    uint32_t& s = states[std::string(name)];
    if (s == kStopped) return veltris::service::kErrorServiceNotActive;
    s = stopPendingPolls > 0 ? kStopPending : kStopped;
    return 0;
  }
  long queryState(std::string_view name, uint32_t& state) override {
    uint32_t& s = states[std::string(name)];
    if (s == kStopPending && --stopPendingPolls <= 0) s = kStopped;
    state = s;
    return 0;
  }
  long deleteService(std::string_view name) override {
    calls.push_back("delete " + std::string(name));
    return states.erase(std::string(name)) ? 0 : veltris::service::kErrorServiceDoesNotExist;
  }
  std::string lastMessage() const override { return message; }
  std::string packagedUnit(std::string_view) override { return packaged; }

  std::string packaged;  // the package's unit file, when the package installed the service
  long connectError = 0;
  long createError = 0;
  std::string message;
  int stopPendingPolls = 0;
  std::map<std::string, uint32_t> states{{"Tapsor", kStopped}};
  std::vector<std::string> calls;
  veltris::service::ServiceConfig created;
};

class CommandLine : public ::testing::Test {
 protected:
  CommandLine() {
    env.manager = &manager;
    env.sleep = [this](std::chrono::milliseconds) { ++sleeps; };
    env.messageBox = [this](const char* caption, const char* text) { boxes.push_back(std::string(caption) + "|" + text); };
  }

  std::string run(std::vector<std::string> args) {
    args.insert(args.begin(), "TapsorSv");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    veltris::agent::testing::ConsoleCapture captured;
    exitCode = tapsorMain(static_cast<int>(argv.size()), argv.data(), env);
    return captured.take();
  }

  FakeManager manager;
  HostEnvironment env;
  int sleeps = 0;
  int exitCode = -1;
  std::vector<std::string> boxes;
};

TEST_F(CommandLine, SlashAndUpperCaseInstallReinstallsAnExistingService) {
  manager.states["TapsorSv"] = kRunning;
  std::string out = run({"/INSTALL"});
  EXPECT_EQ(out,
            "TapsorSv stopped\n"
            "Tapsor is already stopped\n"
            "VELTRIS Agent Service removed.\n"
            "VELTRIS Agent Service installed.\n");
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(manager.created.displayName, "VELTRIS Agent Service");
  EXPECT_EQ(manager.created.dependencies, (std::vector<std::string>{"Tapsor", "RPCSS"}));
  EXPECT_FALSE(manager.created.programPath.empty());
}

TEST_F(CommandLine, StopWhenNothingRuns) {
  manager.states["TapsorSv"] = kStopped;
  EXPECT_EQ(run({"-stop"}), "TapsorSv is already stopped\nTapsor is already stopped\n");
  EXPECT_EQ(exitCode, 0);
}

TEST_F(CommandLine, StopWithoutTheServiceInstalled) {
  EXPECT_EQ(run({"-stop"}), "Could not open TapsorSv - code 1060\nTapsor is already stopped\n");
  EXPECT_EQ(exitCode, 1);
}

// Messages and exit statuses: a switch that could not do its job ends with 1.
TEST_F(CommandLine, StartMessagesAndStatuses) {
  EXPECT_EQ(run({"-start"}), "Could not open TapsorSv - code 1060\n");
  EXPECT_EQ(exitCode, 1);
  manager.states["TapsorSv"] = kStopped;
  EXPECT_EQ(run({"-start"}), "TapsorSv started\n");
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(run({"-Start"}), "TapsorSv is already running\n");
  EXPECT_EQ(exitCode, 0);
}

// The package's unit: started and stopped like any, never replaced or removed.
TEST_F(CommandLine, APackagedServiceIsControlledButNotReinstalledOrRemoved) {
  manager.packaged = "/usr/lib/systemd/system/TapsorSv.service";
  manager.states["TapsorSv"] = kStopped;
  EXPECT_EQ(run({"-start"}), "TapsorSv started\n");
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(run({"-stop"}), "TapsorSv stopped\nTapsor is already stopped\n");
  EXPECT_EQ(exitCode, 0);
  manager.states["TapsorSv"] = kRunning;
  manager.calls.clear();
  EXPECT_EQ(run({"-install"}),
            "VELTRIS Agent Service is already installed by the package veltris-agent "
            "(/usr/lib/systemd/system/TapsorSv.service); nothing changed.\n");
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(run({"/REMOVE"}),
            "VELTRIS Agent Service (/usr/lib/systemd/system/TapsorSv.service) is installed by the package "
            "veltris-agent: use apt remove veltris-agent\n");
  EXPECT_EQ(exitCode, 1);
  EXPECT_TRUE(manager.calls.empty()) << "nothing stopped, written or deleted: " << manager.calls.front();
  EXPECT_EQ(manager.states["TapsorSv"], kRunning);
}

TEST_F(CommandLine, ServiceManagerUnreachableShowsMessageBox) {
  manager.connectError = veltris::service::kErrorAccessDenied;
  EXPECT_EQ(run({"-start"}), "");
  EXPECT_EQ(exitCode, 1);
  EXPECT_EQ(run({"-stop"}), "");
  EXPECT_EQ(exitCode, 1);
  EXPECT_EQ(boxes, (std::vector<std::string>{"VELTRIS ERROR|Could not open Service Control Manager",
                                             "VELTRIS ERROR|Could not open Service Control Manager"}));
  EXPECT_EQ(run({"-remove"}), "OpenSCManager failed - Access is denied. (0x5)\n");
  EXPECT_EQ(exitCode, 1) << "a failed removal is a failure";
}

TEST_F(CommandLine, RemoveWaitsWhileStopPending) {
  manager.states["TapsorSv"] = kRunning;
  manager.stopPendingPolls = 3;
  std::string out = run({"-remove"});
  // "-remove" stops both services first, then removes: the service is already stopping
  EXPECT_NE(out.find("TapsorSv stopped\nTapsor is already stopped\n"), std::string::npos);
  EXPECT_NE(out.find("VELTRIS Agent Service removed.\n"), std::string::npos);
  EXPECT_EQ(manager.states.count("TapsorSv"), 0u);
}

TEST_F(CommandLine, RemovePrintsDotsUntilStopped) {
  manager.states["TapsorSv"] = kRunning;
  manager.stopPendingPolls = 3;
  veltris::agent::testing::ConsoleCapture captured;
  removeService(env);
  std::string out = captured.take();
  EXPECT_EQ(out,
            "Stopping VELTRIS Agent Service...\n"
            "VELTRIS Agent Service stopped.\n"
            "VELTRIS Agent Service removed.\n");
  EXPECT_EQ(sleeps, 3);
}

TEST_F(CommandLine, RemoveOfMissingService) {
  EXPECT_EQ(run({"-remove"}),
            "Could not open TapsorSv - code 1060\nTapsor is already stopped\n"
            "OpenService failed - The specified service does not exist as an installed service. (0x424)\n");
  EXPECT_EQ(exitCode, 1);
}

// The service manager's own words follow the Win32 text, and the exit status says it failed.
TEST_F(CommandLine, FailedInstallShowsTheManagersMessageAndFails) {
  manager.createError = veltris::service::kErrorServiceSpecificError;
  manager.message = "systemctl enable TapsorSv.service: Failed to enable unit: Access denied";
  std::string out = run({"-install"});
  EXPECT_NE(out.find("CreateService failed - The service has returned a service-specific error code. (0x42a)\n"
                     "systemctl enable TapsorSv.service: Failed to enable unit: Access denied\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(exitCode, 1);
  manager.createError = 0;
  manager.message.clear();
  run({"-install"});
  EXPECT_EQ(exitCode, 0);
}

TEST_F(CommandLine, HelpVersionAndListAnswerAndExitZero) {
  for (const char* help : {"--help", "-h"}) {
    std::string out = run({help});
    EXPECT_EQ(exitCode, 0);
    for (const char* part : {"-debug [ADAPTER...]", "-prom", "-install", "-list", "FILE@MAC", "VELTRIS_ROOT",
                             "registry.reg", "OpenKey", "Exit status"})
      EXPECT_NE(out.find(part), std::string::npos) << help << " lacks " << part << "\n" << out;
  }
  for (const char* version : {"--version", "-V"}) {
    EXPECT_EQ(run({version}), std::string("TapsorSv (VELTRIS agent) version ") + veltris::kProgramVersion +
                                  ", version stamp 19990415\n");
    EXPECT_EQ(exitCode, 0);
  }
  std::string out = run({"-list"});
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(out.find("Interfaces TapsorSv can capture on") != std::string::npos ||
              out.find("No network interface") != std::string::npos)
      << out;
}

TEST_F(CommandLine, NoSwitchPrintsUsageAndFailsWithoutServiceManager) {
  unsetenv("NOTIFY_SOCKET");
  for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"debug"}, std::vector<std::string>{"-bogus"}}) {
    std::string out = run(args);
    EXPECT_EQ(out,
              "TapsorSv -install        to install   the service\n"
              "TapsorSv -remove         to remove    the service\n"
              "TapsorSv -start          to start     the service\n"
              "TapsorSv -stop           to stop      the service\n"
              "TapsorSv -debug <params> to run as a console app for debugging\n"
              "\nStartServiceCtrlDispatcher being called.\n"
              "This may take several seconds.  Please wait.\n");
    EXPECT_EQ(exitCode, 1);
  }
}

TEST_F(CommandLine, ForegroundRunStopsOnCtrlC) {
  testing::ScratchRoot root;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // every thread from here on leaves SIGINT to the agent
  std::thread interrupt([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    kill(getpid(), SIGINT);
  });
  const std::string trace = (root.path() / "one.pcap").string();
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* dump = pcap_dump_open(dead, trace.c_str());
  const uint8_t frame[60] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 0, 1, 0x08, 0x06};
  pcap_pkthdr header{};
  header.caplen = header.len = sizeof frame;
  pcap_dump(reinterpret_cast<u_char*>(dump), &header, frame);
  pcap_dump_close(dump);
  pcap_close(dead);
  std::string out = run({"-debug", trace});
  interrupt.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(out.rfind("Debugging VELTRIS Agent Service.\n", 0), 0u);
  EXPECT_NE(out.find("Stopping VELTRIS Agent Service.\nTapsorSv shutdown in progress.\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(root.path() / "var/lib/veltris/VELTRIS History"));
}

// As capture tools do: one line, status 1, no Ctrl-C needed.
TEST_F(CommandLine, ForegroundRunWithoutAnyAdapterEndsWithStatusOne) {
  testing::ScratchRoot root;
  std::string out = run({"-debug", "/no/such/trace.pcap", "/no/such/other.pcap"});
  EXPECT_EQ(exitCode, 1);
  EXPECT_NE(out.find("ERROR - Could not open Adapter\n"), std::string::npos);
  EXPECT_NE(out.find("TapsorSv: none of the adapters could be opened"), std::string::npos) << out;
}

TEST(ServiceStatusReports, CheckPointsAndAcceptedControlsFollowTheStates) {
  ServiceStatus status(false);
  std::vector<std::string> messages;
  status.notifier = [&](std::string_view m) {
    messages.emplace_back(m);
    return true;
  };
  EXPECT_TRUE(status.report(kStartPending, 0, 3000));
  EXPECT_EQ(status.record().checkPoint, 1u);
  EXPECT_EQ(status.record().controlsAccepted, 0u);
  status.report(kRunning, 0, 0);
  EXPECT_EQ(status.record().checkPoint, 0u);
  EXPECT_EQ(status.record().controlsAccepted, kAcceptStop);
  for (uint32_t expected : {2u, 3u, 4u}) {
    status.report(kStopPending, 0, 3000);
    EXPECT_EQ(status.record().checkPoint, expected);
    EXPECT_EQ(status.record().waitHint, 3000u);
  }
  status.report(kStopped, 0, 0);
  EXPECT_EQ(status.record().checkPoint, 0u);
  EXPECT_EQ(status.record().serviceType, 0x10u);
  ASSERT_EQ(messages.size(), 6u);
  EXPECT_EQ(messages[1], "READY=1\nSTATUS=Running");
  EXPECT_EQ(messages[2].rfind("STOPPING=1", 0), 0u);
}

TEST(ServiceStatusReports, DebugModeReportsNothing) {
  ServiceStatus status(true);
  bool called = false;
  status.notifier = [&](std::string_view) { return called = true; };
  EXPECT_TRUE(status.report(kRunning, 0, 0));
  EXPECT_FALSE(called);
  EXPECT_EQ(status.record().currentState, 0u);
}

TEST(ServiceStatusReports, FailedReportIsLoggedAndSaved) {
  ServiceStatus status(false);
  status.notifier = [](std::string_view) {
    errno = ENOENT;
    return false;
  };
  EXPECT_FALSE(status.report(kStartPending, 0, 3000));
  EXPECT_EQ(status.savedError(), ENOENT);
}

}  // namespace
}  // namespace veltris::agent::service
