// Snapshot files as the agent writes them: the items and their names, the
// inverted capture images of the packet rings, and the "SNAPSHOT" request
// with and without a path (which must stay inside the history folder).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "agent/diagnostics/role_labels.h"
#include "agent/requests/dispatcher.h"
#include "agent/requests/snapshot_writer.h"
#include "agent/requests/tests/detail_test_support.h"
#include "platform/netconfig/config_source.h"
#include "tests/support/agent_fixture.h"
#include "tests/support/console_capture.h"

namespace veltris::agent::testing {
namespace {

namespace fs = std::filesystem;

struct Item {
  std::string name;  // all 16 bytes
  std::string data;
};

// Reads a snapshot independently of the library's reader; fails the test on a bad layout.
std::vector<Item> parseSnapshot(const std::string& file) {
  std::vector<Item> items;
  EXPECT_EQ(file.substr(0, 4), "VSN ");
  size_t at = 4;
  for (;;) {
    if (at + 4 > file.size()) {
      ADD_FAILURE() << "no end marker";
      return items;
    }
    const uint32_t length = u32At(file, at);
    at += 4;
    if (length == 0) break;
    if (length < 16 || at + length > file.size()) {
      ADD_FAILURE() << "bad item length " << length;
      return items;
    }
    items.push_back({file.substr(at, 16), file.substr(at + 16, length - 16)});
    at += length;
  }
  EXPECT_EQ(at, file.size()) << "bytes behind the end marker";
  return items;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string inverted(std::string bytes) {
  for (char& c : bytes) c = static_cast<char>(~static_cast<unsigned char>(c));
  return bytes;
}

uint16_t u16At(const std::string& bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes.at(offset)) | static_cast<uint8_t>(bytes.at(offset + 1)) << 8);
}

std::string name16(const std::string& text) { return padded(text, 16, '\0'); }

class SnapshotWriterTest : public ::testing::Test, public AgentFixture {
 protected:
  SnapshotWriterTest() { clock.time = utc(1999, 4, 15, 12, 30, 0); }

  // A fake request handler: a header-sized stand-in, then the request text.
  OwnRequest recordingRunner() {
    return [this](std::string_view text, std::vector<uint8_t>& reply) {
      asked.emplace_back(text);
      reply.assign(32, 'H');
      reply.insert(reply.end(), text.begin(), text.end());
    };
  }

  std::string snapshotWith(const OwnRequest& run) {
    const fs::path path = dir() / "out.VSN";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    int error = 0;
    EXPECT_TRUE(writeSnapshot(rt, run, fd, error));
    ::close(fd);
    return readFile(path);
  }

  // Files frames into the adapter's packet ring as the capture thread would.
  static void capture(NicArea& nic, uint32_t& sequence, const std::vector<std::pair<uint32_t, uint32_t>>& frames) {
    for (auto [length, time] : frames) {
      Bytes frame(length, 0);
      for (uint32_t i = 0; i < length; ++i) frame[i] = static_cast<uint8_t>(i * 7 + sequence);
      PacketRecord entry = packet(++sequence, frame, time);
      entry.length = length;
      const uint32_t n = nic.readsCompleted.load();
      nic.packets.publish(n % kPacketRingSize, entry);
      nic.readsCompleted.store(n + 1);
    }
  }

  std::vector<std::string> asked;
};

TEST_F(SnapshotWriterTest, ReplyItemsInOrderWithCutNamesAndCommandsOnlyWithAnAddress) {
  const std::vector<std::string> fixed = {"OPEN ",         "TPT 19990415",   "TPS 19990415", "BCASTERS LOW",
                                          "BCASTERS HIGH", "BCASTSENT LOW",  "BCASTSENT HIGH", "ERRORS 0",
                                          "DETAILS 0",     "OID",            "CMD CONFIG",   "CMD SUBNET"};
  const std::vector<std::string> commands = {"CMD NETSTAT -n", "CMD ARP -a", "CMD IPCONFIG -all", "CMD ROUTE PRINT"};
  for (bool withAddress : {false, true}) {
    SCOPED_TRACE(withAddress ? "with an IP address" : "without an IP address");
    copyText(rt.global.ipSummary, sizeof rt.global.ipSummary, withAddress ? "IP=10.0.0.5" : "");
    asked.clear();
    std::vector<Item> items = parseSnapshot(snapshotWith(recordingRunner()));
    std::vector<std::string> expected = fixed;
    if (withAddress) expected.insert(expected.end(), commands.begin(), commands.end());
    EXPECT_EQ(asked, expected);  // whole texts, "CMD IPCONFIG -all" included
    ASSERT_EQ(items.size(), expected.size());
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].name, name16(expected[i].substr(0, 16)));
      EXPECT_EQ(items[i].data, std::string(32, 'H') + expected[i]);
    }
  }
  std::vector<Item> items = parseSnapshot(snapshotWith(recordingRunner()));
  EXPECT_EQ(items[6].name, std::string("BCASTSENT HIGH\0\0", 16));
  EXPECT_EQ(items[14].name, "CMD IPCONFIG -al");
}

TEST_F(SnapshotWriterTest, DumpsOnlyForAdaptersWithFramesAsInvertedCaptureImages) {
  NicArea& ethernet = addAdapter("eth0");
  addAdapter("eth1");  // never captured a frame
  NicArea& tokenRing = addAdapter("tr0");
  tokenRing.mediaType = 1;
  uint32_t sequence = 0;
  const uint32_t t0 = utc(1999, 4, 15, 11, 59, 58);
  capture(ethernet, sequence, {{60, t0}, {1514, t0}, {100, t0 + 1}, {42, t0 + 1}, {300, t0 + 3}});
  capture(tokenRing, sequence, {{80, t0 + 2}});

  std::vector<Item> items = parseSnapshot(snapshotWith(recordingRunner()));
  ASSERT_EQ(items.size(), 14u);
  EXPECT_EQ(items[12].name, name16("DUMP_1"));
  EXPECT_EQ(items[13].name, name16("DUMP_3"));

  const std::string image = inverted(items[12].data);
  EXPECT_EQ(image.substr(0, 8), std::string("RTSS\1\1\1\0", 8));
  const std::vector<uint16_t> start = {1999, 4, 2, 15, 11, 59, 58, 0};  // the day-of-week word is always 2
  for (size_t i = 0; i < start.size(); ++i) EXPECT_EQ(u16At(image, 8 + 2 * i), start[i]) << "word " << i;
  const uint32_t tableOffset = u32At(image, 24);
  EXPECT_EQ(u32At(image, 28), 20u);
  EXPECT_EQ(image.substr(32, 96), std::string(96, '\0'));
  EXPECT_EQ(image.size(), tableOffset + 20 + 8);
  EXPECT_EQ(image.substr(tableOffset + 20), std::string(8, '\0'));

  struct Expected {
    uint32_t offset, milliseconds, length, stored;
  };
  const std::vector<Expected> frames = {{128, 0, 60, 60},
                                        {128 + 8 + 60, 0, 1514, 256},
                                        {128 + 8 + 60 + 8 + 256, 1000, 100, 100},
                                        {128 + 8 + 60 + 8 + 256 + 8 + 100, 1000, 42, 42},
                                        {128 + 8 + 60 + 8 + 256 + 8 + 100 + 8 + 42, 3000, 300, 256}};
  for (size_t k = 0; k < frames.size(); ++k) {
    SCOPED_TRACE("frame " + std::to_string(k + 1));
    const uint32_t at = u32At(image, tableOffset + 4 * k);
    EXPECT_EQ(at, frames[k].offset);
    EXPECT_EQ(u32At(image, at), frames[k].milliseconds);
    EXPECT_EQ(u16At(image, at + 4), frames[k].length);
    EXPECT_EQ(u16At(image, at + 6), frames[k].stored);
    EXPECT_EQ(static_cast<uint8_t>(image.at(at + 8 + 1)), static_cast<uint8_t>(7 + k));  // the frame's bytes
  }
  EXPECT_EQ(u16At(inverted(items[13].data), 6), 2);  // 802.5
}

TEST_F(SnapshotWriterTest, WrappedRingGivesTheLast300FramesOldestFirst) {
  NicArea& nic = addAdapter();
  uint32_t sequence = 0;
  std::vector<std::pair<uint32_t, uint32_t>> frames;
  for (uint32_t i = 0; i < 350; ++i) frames.push_back({64, 1000 + i});
  capture(nic, sequence, frames);
  const std::string image = buildCaptureImage(nic);
  ASSERT_EQ(u32At(image, 28), 1200u);
  const uint32_t table = u32At(image, 24);
  for (uint32_t k = 0; k < 300; k += 299) {
    const uint32_t at = u32At(image, table + 4 * k);
    EXPECT_EQ(u32At(image, at), k * 1000);
    EXPECT_EQ(static_cast<uint8_t>(image.at(at + 8 + 1)), static_cast<uint8_t>(7 + 50 + k));
  }
}

TEST_F(SnapshotWriterTest, ImageEndsAtABadTimeOrAFrameNotYetFiled) {
  NicArea& nic = addAdapter();
  uint32_t sequence = 0;
  capture(nic, sequence, {{60, 5000}, {60, 5002}, {60, 4999}, {60, 5003}});
  veltris::agent::testing::ConsoleCapture captured;
  std::string image = buildCaptureImage(nic);
  EXPECT_EQ(captured.take(), "\nERROR - Bad TIME");
  EXPECT_EQ(u32At(image, 28), 8u);  // the frames before it stay

  NicArea& second = addAdapter("eth1");
  capture(second, sequence, {{60, 5000}, {60, 0}});
  EXPECT_EQ(u32At(buildCaptureImage(second), 28), 4u);
  EXPECT_EQ(captured.take(), "\nERROR - Bad TIME");

  // Frame 3 is counted but its slot is still being written.
  NicArea& third = addAdapter("eth2");
  capture(third, sequence, {{60, 5000}, {60, 5001}});
  third.readsCompleted.store(3);
  EXPECT_EQ(u32At(buildCaptureImage(third), 28), 8u);
}

TEST_F(SnapshotWriterTest, AgentWithoutAdaptersHasRepliesAndTheEndMarkerOnly) {
  std::string file = snapshotWith(recordingRunner());
  EXPECT_EQ(parseSnapshot(file).size(), 12u);
  EXPECT_EQ(file.substr(file.size() - 4), std::string(4, '\0'));
}

// ---- "SNAPSHOT" through the dispatcher --------------------------------------------

class SnapshotRequestTest : public SnapshotWriterTest {
 protected:
  SnapshotRequestTest() : temp_(dir() / "tmp") {
    fs::create_directory(temp_);
    fs::create_directory(dir() / "history");
    if (chdir((dir() / "history").c_str()) != 0) std::abort();
    setenv("TMPDIR", temp_.c_str(), 1);
    // A configuration without addresses: no external commands run.
    installDiagnostics(rt, netconfig::makeRegistrySource(dir() / "registry.reg", dir() / "windows"));
    NicArea& nic = addAdapter();
    uint32_t sequence = 0;
    capture(nic, sequence, {{60, clock.time}, {1514, clock.time}});
    rt.global.totals.sequence = sequence;
    rt.messageBox = [this](const char* caption, const char* text) { boxes.push_back(std::string(caption) + ": " + text); };
  }
  ~SnapshotRequestTest() override { unsetenv("TMPDIR"); }

  std::string dispatch(const std::string& text) {
    std::string body;
    veltris::agent::testing::ConsoleCapture captured;
    dispatchRequest(rt, Request(text), body);
    console = captured.take();
    return body;
  }

  static std::string replyText(const std::string& body) {
    EXPECT_EQ(body.size(), 4100u);
    return body.substr(0, 4) + std::string(body.c_str() + 4);
  }

  fs::path history() const { return dir() / "history"; }

  fs::path temp_;
  std::vector<std::string> boxes;
  std::string console;
};

TEST_F(SnapshotRequestTest, AloneRepliesWithTheSnapshotAndLeavesNoTemporaryFile) {
  for (const char* request : {"SNAPSHOT", "SNAPSHOT "}) {
    const std::string body = dispatch(request);
    std::vector<Item> items = parseSnapshot(body);
    ASSERT_EQ(items.size(), 13u) << request;
    EXPECT_EQ(items[0].name, name16("OPEN "));
    EXPECT_EQ(items[0].data.substr(0, 4), "TASK");
    EXPECT_EQ(items[0].data.substr(32, 4), "TOT ");
    EXPECT_EQ(items[12].name, name16("DUMP_1"));
    EXPECT_TRUE(fs::is_empty(temp_));
  }
  // No temporary file can be made: the body is the tag alone.
  setenv("TMPDIR", (dir() / "missing").c_str(), 1);
  EXPECT_EQ(dispatch("SNAPSHOT"), "VSN ");
}

TEST_F(SnapshotRequestTest, PathInsideTheHistoryFolderIsWrittenAndAnsweredWithTotals) {
  for (const std::string& path : {(history() / "day.VSN").string(), std::string("Relative.vsn")}) {
    const std::string body = dispatch("SNAPSHOT " + path);
    EXPECT_EQ(body.substr(0, 4), "TOT ");
    EXPECT_EQ(body.size(), 100u);
    EXPECT_EQ(parseSnapshot(readFile(history() / fs::path(path).filename())).size(), 13u);
  }
  // An existing snapshot is replaced.
  std::ofstream(history() / "old.VSN") << std::string(100000, 'x');
  dispatch("SNAPSHOT " + (history() / "old.VSN").string());
  EXPECT_EQ(readFile(history() / "old.VSN").substr(0, 4), "VSN ");
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SnapshotRequestTest, PathsOutsideTheHistoryFolderAreRefusedAndCreateNothing) {
  fs::create_directory(dir() / "elsewhere");
  fs::create_directory(history() / "sub");
  const fs::path victim = dir() / "victim.VSN";
  std::ofstream(victim) << "keep";
  fs::create_symlink(victim, history() / "link.VSN");
  fs::create_hard_link(victim, history() / "hard.VSN");
  ::mkfifo((history() / "fifo.VSN").c_str(), 0600);
  struct Case {
    std::string path;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {(dir() / "elsewhere" / "x.VSN").string(), "the folder is not the history folder"},
      {(history() / "sub" / "x.VSN").string(), "the folder is not the history folder"},
      {(history() / ".." / "history" / "x.VSN").string(), "the path contains .."},
      {"../x.VSN", "the path contains .."},
      {(history() / "x.txt").string(), "the file name does not end in .VSN"},
      {(history() / ".VSN").string(), "the file name does not end in .VSN"},
      {(history() / "link.VSN").string(), "the file is a link"},
      {(history() / "hard.VSN").string(), "the file has other links"},
      {(history() / "fifo.VSN").string(), "the file is not a plain file"},
      {"/etc/x.VSN", "the folder is not the history folder"},
  };
  const auto before = std::distance(fs::recursive_directory_iterator(dir()), fs::recursive_directory_iterator());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string text = replyText(dispatch("SNAPSHOT " + c.path));
    EXPECT_EQ(text.rfind("TXT4ERROR - Snapshot not written: '" + c.path + "' is not permitted (" + c.reason + ").", 0),
              0u)
        << text;
    EXPECT_NE(text.find("directly inside its history folder " + history().string()), std::string::npos) << text;
    EXPECT_NE(console.find("SNAPSHOT refused"), std::string::npos);
  }
  EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir()), fs::recursive_directory_iterator()), before);
  EXPECT_EQ(readFile(victim), "keep");
  EXPECT_FALSE(fs::exists("/etc/x.VSN"));
}

TEST_F(SnapshotRequestTest, AFileThatCannotBeCreatedIsReportedNotAnsweredAsDone) {
  fs::create_directory(history() / "taken.VSN");  // a folder where the file should go
  const std::string path = (history() / "taken.VSN").string();
  const std::string text = replyText(dispatch("SNAPSHOT " + path));
  EXPECT_EQ(text.rfind("TXT4ERROR - Could not save to file '" + path + "': ", 0), 0u) << text;
  EXPECT_EQ(boxes, std::vector<std::string>{"VELTRIS ERROR: Could not save to file"});
  EXPECT_TRUE(fs::is_directory(path));
}

}  // namespace
}  // namespace veltris::agent::testing
