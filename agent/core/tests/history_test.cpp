#include "agent/core/history.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <iterator>
#include <vector>

#include "agent/core/history_folder.h"
#include "common/text_field.h"
#include "tests/support/agent_clock.h"

namespace veltris::agent {
namespace {

using testing::FakeClock;
using testing::localTime;
using testing::ScratchRoot;

template <typename Record>
std::vector<Record> readRecords(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Record> records(bytes.size() / sizeof(Record));
  std::memcpy(records.data(), bytes.data(), records.size() * sizeof(Record));
  return records;
}

NicArea& addNic(GlobalArea& global) {
  int i = global.adapterCount++;
  global.nics[i] = std::make_unique<NicArea>();
  global.nics[i]->index = i;
  return *global.nics[i];
}

void addPartner(NicArea& nic, const char* station, const char* protoAddr) {
  std::lock_guard lock(nic.tableMutex);
  Partner& p = nic.partners[nic.partnerCount++];
  copyText(p.record.station, sizeof p.record.station, station);
  copyText(p.record.protoAddr, sizeof p.record.protoAddr, protoAddr);
  p.bytesSent = 1500;
}

void addTraffic(GlobalArea& global, uint32_t frames) {
  global.totals.sequence += frames;
  global.totals.framesSent += frames;
  global.totals.bytesSent += uint64_t{frames} * 100;
  global.totals.broadcastsReceived += 1;
}

TEST(HistoryFiles, TwentyFiveMinuteRunLeavesMarkerTwoPeriodsAndPartialRecord) {
  ScratchRoot root;
  AgentRuntime rt;
  uint32_t start = localTime(1999, 10, 15, 8, 0, 0);
  FakeClock clock(start);
  rt.clock = &clock;
  clock.stopAt = start + 25 * 60;
  clock.stopEvent = &rt.stopEvent;
  clock.onWake = [&](uint32_t) { addTraffic(rt.global, 7); };
  addTraffic(rt.global, 3);

  ASSERT_TRUE(appendStartMarker(start));
  runHistoryLoop(rt);

  EXPECT_TRUE(rt.stoppedEvent.isSet());
  auto records = readRecords<TptRecord>("19991015.TPT");
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(std::string(records[0].tag, 4), "TPT ");
  EXPECT_EQ(records[0].time.get(), start);
  EXPECT_EQ(records[0].framesSent.get(), 0u);
  EXPECT_EQ(records[1].time.get(), start + 600);
  EXPECT_EQ(records[2].time.get(), start + 1200);
  EXPECT_EQ(records[3].time.get(), start + 1500);
  uint32_t frames = 0;
  float bytes = 0;
  for (const TptRecord& r : records) {
    frames += r.framesSent.get();
    bytes += r.bytesSent.get();
  }
  TrafficTotals totals = rt.global.totals.load();
  EXPECT_EQ(frames, totals.framesSent);
  EXPECT_FLOAT_EQ(bytes, static_cast<float>(totals.bytesSent));
  EXPECT_EQ(records[1].framesSent.get(), 3u + 7u);
  EXPECT_EQ(records[3].framesSent.get(), 0u);
}

TEST(HistoryFiles, MidnightWritesPreviousDayAndEmptiesEveryPartnerTable) {
  ScratchRoot root;
  AgentRuntime rt;
  uint32_t start = localTime(1999, 12, 31, 23, 55, 0);
  FakeClock clock(start);
  rt.clock = &clock;
  clock.stopAt = start + 25 * 60;
  clock.stopEvent = &rt.stopEvent;
  NicArea& first = addNic(rt.global);
  NicArea& second = addNic(rt.global);
  addPartner(first, "*020000000001", "IP 10.0.0.1");
  addPartner(first, "020000000002", "IP 10.0.0.2");
  addPartner(second, "020000000003", "NetBEUI");
  bool resetSeen = false;
  clock.onWake = [&](uint32_t now) {
    if (now >= localTime(2000, 1, 1, 0, 0, 0) && !resetSeen) {
      resetSeen = true;
    } else if (resetSeen) {
      addPartner(second, "020000000004", "IP 10.0.0.4");  // a partner of the new day
    }
  };

  runHistoryLoop(rt);

  auto previous = readRecords<TpsRecord>("19991231.TPS");
  ASSERT_EQ(previous.size(), 3u);
  EXPECT_EQ(std::string(previous[0].tag, 4), "TPS1");
  EXPECT_EQ(previous[0].adapter.get(), 0u);
  EXPECT_STREQ(previous[0].partner.station, "*020000000001");
  EXPECT_EQ(previous[1].adapter.get(), 0u);
  EXPECT_EQ(previous[2].adapter.get(), 1u);
  EXPECT_STREQ(previous[2].partner.protoAddr, "NetBEUI");
  EXPECT_FLOAT_EQ(previous[0].partner.bytesSent.get(), 1500.0f);
  EXPECT_EQ(rt.global.totals.resetCount.load(), 2u);
  EXPECT_EQ(first.partnerCount, 0);

  auto today = readRecords<TpsRecord>("20000101.TPS");
  ASSERT_EQ(today.size(), 1u);
  EXPECT_STREQ(today[0].partner.station, "020000000004");
  auto totals = readRecords<TptRecord>("20000101.TPT");
  EXPECT_EQ(totals.size(), 3u);  // across midnight, ten minutes later, and the stop
  EXPECT_EQ(readRecords<TptRecord>("19991231.TPT").size(), 0u);
}

// A live agent whose system clock is set three days forward (a long suspend):
// the frame stamped after the jump waits while the history loop closes the
// day; the days in between get no files and the purge runs once, against the
// new day, sparing the days of this run.
TEST(HistoryFiles, LiveClockJumpClosesTheDayOnceAndSkipsTheDaysBetween) {
  ScratchRoot root;
  std::string problem;
  ASSERT_TRUE(enterHistoryFolder(root.path().string(), problem)) << problem;
  std::ofstream("19991005.TPT") << "x";  // a month before the new day: purged
  std::ofstream("19991010.TPT") << "x";  // kept
  const uint32_t before = localTime(1999, 11, 5, 14, 0, 0);
  const uint32_t after = localTime(1999, 11, 8, 9, 30, 0);
  std::atomic<uint32_t> wall{before};
  std::atomic<int> loopReads{0};
  std::thread::id loopThread;
  AgentRuntime rt;
  rt.useClock(std::make_unique<SystemClock>([&] {
    if (std::this_thread::get_id() == loopThread) ++loopReads;
    return wall.load();
  }));
  NicArea& nic = addNic(rt.global);
  std::vector<std::string> printed;
  ConsoleSink previous = setConsoleSink([&](std::string_view text) { printed.emplace_back(text); });

  // What the capture thread does with each frame: stamp it, then file it.
  auto frame = [&](const char* protoAddr) {
    uint32_t time = 0;
    ASSERT_TRUE(rt.clock->stampFrame(0, capture::FrameRead{}, rt.stopEvent, time));
    addTraffic(rt.global, 1);
    addPartner(nic, dateText(time).c_str(), protoAddr);
  };
  frame("IP 10.0.0.1");
  frame("IP 10.0.0.2");
  std::thread loop([&] { runHistoryLoop(rt, std::chrono::seconds(1)); });
  loopThread = loop.get_id();
  while (loopReads.load() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the period has started
  wall = after;
  frame("IP 10.0.0.3");
  frame("IP 10.0.0.4");
  rt.stopEvent.set();
  loop.join();
  setConsoleSink(previous);

  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(".")) files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"19991010.TPT", "19991105.TPS", "19991105.TPT", "19991108.TPS",
                                             "19991108.TPT"}));
  const auto dayOne = readRecords<TpsRecord>("19991105.TPS");
  ASSERT_EQ(dayOne.size(), 2u);
  EXPECT_STREQ(dayOne[0].partner.station, "19991105");
  EXPECT_STREQ(dayOne[1].partner.station, "19991105");
  const auto dayFour = readRecords<TpsRecord>("19991108.TPS");
  ASSERT_EQ(dayFour.size(), 2u) << "only the frames after the jump";
  EXPECT_STREQ(dayFour[0].partner.station, "19991108");
  EXPECT_STREQ(dayFour[0].partner.protoAddr, "IP 10.0.0.3");
  EXPECT_EQ(rt.global.totals.resetCount.load(), 1u) << "one change of day";
  uint32_t frames = 0;
  for (const char* file : {"19991105.TPT", "19991108.TPT"}) {
    for (const TptRecord& r : readRecords<TptRecord>(file)) frames += r.framesSent.get();
  }
  EXPECT_EQ(frames, 4u) << "every frame is in a period record";
  for (const TptRecord& r : readRecords<TptRecord>("19991105.TPT")) EXPECT_LT(r.time.get(), before + 600);
  EXPECT_EQ(std::count(printed.begin(), printed.end(), "PURGING 19991005.TPT\n"), 1);
}

TEST(HistoryFiles, UnwritableDirectorySkipsWritesAndCountsThem) {
  ScratchRoot root;
  if (geteuid() == 0) {
    // root writes anywhere: make the file name a directory instead
    std::filesystem::create_directory(dateText(localTime(2000, 5, 5)) + ".TPT");
  } else {
    std::filesystem::permissions(root.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  }
  AgentRuntime rt;
  const uint64_t before = historyWriteErrors();
  EXPECT_FALSE(appendStartMarker(localTime(2000, 5, 5)));
  EXPECT_FALSE(appendPeriodRecord(rt.global, localTime(2000, 5, 5)));
  EXPECT_EQ(historyWriteErrors(), before + 2);
}

// Collects the agent's console lines while it lives.
struct ConsoleLines {
  ConsoleLines() {
    setConsoleSink([this](std::string_view text) { lines += text; });
  }
  ~ConsoleLines() { setConsoleSink({}); }
  int count(const std::string& part) const {
    int n = 0;
    for (size_t at = lines.find(part); at != std::string::npos; at = lines.find(part, at + 1)) ++n;
    return n;
  }
  std::string lines;
};

TEST(HistoryFolder, PlantedLinksFifosAndForeignFilesAreNeverWritten) {
  ScratchRoot root;
  const std::filesystem::path target = root.path() / "target";
  struct Case {
    const char* what;
    std::function<void(const std::string& name)> plant;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"link to a file",
       [&](const std::string& name) {
         std::ofstream(target) << "keep";
         std::filesystem::create_symlink(target, name);
       },
       "the file is a link"},
      {"link to nothing", [&](const std::string& name) { std::filesystem::create_symlink(target, name); },
       "the file is a link"},
      {"FIFO", [&](const std::string& name) { ASSERT_EQ(::mkfifo(name.c_str(), 0666), 0); },
       "the file is not a plain file"},
      {"hard link",
       [&](const std::string& name) {
         std::ofstream(target) << "keep";
         std::filesystem::create_hard_link(target, name);
       },
       "the file has other links"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const uint32_t day = localTime(2001, 3, static_cast<int>(1 + i));  // a file and day of its own
    const std::string name = dateText(day) + ".TPT";
    std::filesystem::remove(target);
    c.plant(name);
    const bool planted = std::filesystem::exists(target);
    ConsoleLines console;
    EXPECT_FALSE(appendStartMarker(day)) << c.what;
    EXPECT_EQ(console.count(c.reason), 1) << c.what << ": " << console.lines;
    if (planted) {
      EXPECT_EQ(std::filesystem::file_size(target), 4u) << c.what;
    } else {
      EXPECT_FALSE(std::filesystem::exists(target)) << c.what << ": the link's target was made";
    }
  }
  if (geteuid() == 0) {  // a plain file that another user made and can still read
    const std::string name = dateText(localTime(2001, 4, 1)) + ".TPT";
    std::ofstream(name) << "";
    ASSERT_EQ(::chown(name.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(appendStartMarker(localTime(2001, 4, 1)));
    EXPECT_EQ(std::filesystem::file_size(name), 0u);
  }
}

TEST(HistoryFolder, FilesAndFoldersAreMadePrivate) {
  ScratchRoot root;
  const std::filesystem::path folder = root.path() / "VELTRIS History";
  std::string problem;
  const mode_t umask = ::umask(0);
  ASSERT_TRUE(enterHistoryFolder(folder.string(), problem)) << problem;
  ::umask(umask);
  const PrivateMode mode = privateMode();
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);

  const uint32_t day = localTime(2003, 5, 5);
  const std::string older = dateText(day - 86400) + ".TPT";
  std::ofstream(older) << "";
  ASSERT_EQ(::chmod(older.c_str(), 0666), 0);
  const mode_t previous = ::umask(0);
  EXPECT_TRUE(appendStartMarker(day));
  EXPECT_TRUE(appendStartMarker(day - 86400));
  ::umask(previous);
  for (const std::string& name : {dateText(day) + ".TPT", older}) {
    ASSERT_EQ(::stat(name.c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 07777, mode.fileMode) << name;
    EXPECT_EQ(st.st_mode & 07, 0u) << name;
    if (mode.group >= 0) {
      EXPECT_EQ(st.st_gid, static_cast<gid_t>(mode.group)) << name;
    }
  }
  ASSERT_TRUE(enterHistoryFolder(root.path().string(), problem));
}

TEST(HistoryFolder, AFolderThatCannotBeMadeWritesNothingAndSaysSoOncePerFileAndDay) {
  ScratchRoot root;
  std::ofstream("plain") << "x";
  const std::filesystem::path start = std::filesystem::current_path();
  ConsoleLines console;
  std::string problem;
  EXPECT_FALSE(enterHistoryFolder((root.path() / "plain" / "VELTRIS History").string(), problem));
  EXPECT_NE(problem.find("Not a directory"), std::string::npos) << problem;
  EXPECT_EQ(std::filesystem::current_path(), start);

  const uint64_t before = historyWriteErrors();
  const uint32_t day = localTime(2002, 5, 5);
  AgentRuntime rt;
  EXPECT_FALSE(appendStartMarker(day));
  EXPECT_FALSE(appendPeriodRecord(rt.global, day + 600));
  EXPECT_FALSE(appendStartMarker(day + 86400));
  EXPECT_EQ(historyWriteErrors(), before + 3);
  EXPECT_EQ(console.count("History file " + dateText(day) + ".TPT"), 1) << console.lines;
  EXPECT_EQ(console.count("History file " + dateText(day + 86400) + ".TPT"), 1) << console.lines;
  EXPECT_EQ(console.count("Not a directory"), 2) << console.lines;
  purgeHistory(day);
  EXPECT_TRUE(std::filesystem::exists("plain"));
  for (const auto& entry : std::filesystem::directory_iterator(start)) {
    EXPECT_EQ(entry.path().filename(), "plain") << "written into the start folder";
  }

  // Once the folder can be made, the next write makes it and goes there.
  std::filesystem::remove("plain");
  std::filesystem::create_directory("plain");
  EXPECT_TRUE(appendStartMarker(day));
  EXPECT_TRUE(std::filesystem::exists(root.path() / "plain" / "VELTRIS History" / (dateText(day) + ".TPT")));
  ASSERT_TRUE(enterHistoryFolder(root.path().string(), problem));
}

class Purge : public ::testing::Test {
 protected:
  void touch(const std::string& name) { std::ofstream(name) << "x"; }
  bool exists(const std::string& name) { return std::filesystem::exists(name); }
  ScratchRoot root;
};

TEST_F(Purge, RemovesFilesBeforeTheSameDayOfThePreviousMonth) {
  touch("19990914.TPT");
  touch("19990914.TPS");
  touch("19990915.TPT");
  touch("19991014.TPS");
  purgeHistory(localTime(1999, 10, 15));
  EXPECT_FALSE(exists("19990914.TPT"));
  EXPECT_FALSE(exists("19990914.TPS"));
  EXPECT_TRUE(exists("19990915.TPT"));
  EXPECT_TRUE(exists("19991014.TPS"));
}

TEST_F(Purge, SparesTheDaysFromTheGivenOneOn) {
  touch("19990801.TPT");
  touch("19990802.TPS");
  touch("19990803.TPT");
  purgeHistory(localTime(1999, 10, 15), localTime(1999, 8, 2, 23, 0, 0));
  EXPECT_FALSE(exists("19990801.TPT"));
  EXPECT_TRUE(exists("19990802.TPS"));
  EXPECT_TRUE(exists("19990803.TPT"));
}

TEST_F(Purge, KeepsTheFileOneDayLater) {
  touch("19990914.TPT");
  purgeHistory(localTime(1999, 10, 14));
  EXPECT_TRUE(exists("19990914.TPT"));
}

TEST_F(Purge, CrossesTheYear) {
  touch("19981201.TPT");
  touch("19981130.TPT");
  purgeHistory(localTime(1999, 1, 1));
  EXPECT_TRUE(exists("19981201.TPT"));
  EXPECT_FALSE(exists("19981130.TPT"));
}

TEST_F(Purge, NeverTouchesOtherNames) {
  for (const char* name : {"19800101.TPX", "notes.TPT", "19800101.tpt", "1980.TPT", "00000101.TPT", "19800100.TPS",
                           "19800101TPT"}) {
    touch(name);
  }
  purgeHistory(localTime(1999, 10, 15));
  for (const char* name : {"19800101.TPX", "notes.TPT", "19800101.tpt", "1980.TPT", "00000101.TPT", "19800100.TPS",
                           "19800101TPT"}) {
    EXPECT_TRUE(exists(name)) << name;
  }
}

TEST(HistoryFiles, DateTextIsLocalDate) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(dateText(localTime(1999, 4, 15, 0, 0, 1)), "19990415");
  EXPECT_EQ(dateText(localTime(2000, 2, 29, 23, 59, 59)), "20000229");
}

}  // namespace
}  // namespace veltris::agent
