// The registry API on real files: values of every type, keys, errors, concurrency.
#include "platform/registry/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/registry/tests/registry_test_util.h"

namespace veltris::reg {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::kParams;
using RegistryTest = testing::RegistryDirTest;

std::vector<uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

TEST_F(RegistryTest, EveryTypeRoundTripsAsWin32Bytes) {
  Registry writer(file_);
  ASSERT_EQ(writer.setString(kParams, "DataPath", "/var/lib/veltris \xC3\xA9"), kSuccess) << writer.lastError();
  ASSERT_EQ(writer.setNumber(kParams, "AutoIpName", 0xA1B2C3D4), kSuccess);
  ASSERT_EQ(writer.setMultiString(kParams, "Dns", {"10.0.0.1", "fe80::1", "\xF0\x9F\x98\x80"}), kSuccess);
  ASSERT_EQ(writer.setBinary(kParams, "OpenKey", {0, 1, 0xff, '"', '\\'}), kSuccess);
  ASSERT_EQ(writer.setValue(kParams, "Expand", ValueType::ExpandSz, bytesOf(std::string("%ROOT%\\x", 9))), kSuccess);
  ASSERT_EQ(writer.setValue(kParams, "Lines", ValueType::Sz, bytesOf(std::string("a\r\nb\0", 5))), kSuccess);
  ASSERT_EQ(writer.setValue(kParams, "Qword", static_cast<ValueType>(11), {1, 2, 3, 4, 5, 6, 7, 8}), kSuccess);
  ASSERT_EQ(writer.setValue(kParams, "Short", ValueType::Dword, {7, 0}), kSuccess);

  Registry reader(file_);  // a second handle sees only what the file holds
  ValueType type{};
  std::vector<uint8_t> data;
  ASSERT_EQ(reader.queryValue(kParams, "DataPath", type, data), kSuccess);
  EXPECT_EQ(type, ValueType::Sz);
  EXPECT_EQ(data, bytesOf(std::string("/var/lib/veltris \xC3\xA9\0", 20)));
  ASSERT_EQ(reader.queryValue(kParams, "AutoIpName", type, data), kSuccess);
  EXPECT_EQ(type, ValueType::Dword);
  EXPECT_THAT(data, ElementsAre(0xD4, 0xC3, 0xB2, 0xA1));
  ASSERT_EQ(reader.queryValue(kParams, "Dns", type, data), kSuccess);
  EXPECT_EQ(type, ValueType::MultiSz);
  EXPECT_EQ(data, bytesOf(std::string("10.0.0.1\0fe80::1\0\xF0\x9F\x98\x80\0\0", 23)));
  ASSERT_EQ(reader.queryValue(kParams, "OpenKey", type, data), kSuccess);
  EXPECT_EQ(type, ValueType::Binary);
  EXPECT_THAT(data, ElementsAre(0, 1, 0xff, '"', '\\'));
  ASSERT_EQ(reader.queryValue(kParams, "Expand", type, data), kSuccess);
  EXPECT_EQ(type, ValueType::ExpandSz);
  EXPECT_EQ(data, bytesOf(std::string("%ROOT%\\x", 9)));
  ASSERT_EQ(reader.queryValue(kParams, "Lines", type, data), kSuccess);
  EXPECT_EQ(data, bytesOf(std::string("a\r\nb\0", 5)));
  ASSERT_EQ(reader.queryValue(kParams, "Qword", type, data), kSuccess);
  EXPECT_EQ(static_cast<uint32_t>(type), 11u);
  EXPECT_THAT(data, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
  ASSERT_EQ(reader.queryValue(kParams, "Short", type, data), kSuccess);
  EXPECT_THAT(data, ElementsAre(7, 0));

  std::string text;
  uint32_t number = 0;
  std::vector<std::string> list;
  EXPECT_EQ(reader.queryString(kParams, "datapath", text), kSuccess);
  EXPECT_EQ(text, "/var/lib/veltris \xC3\xA9");
  EXPECT_EQ(reader.queryString(kParams, "Expand", text), kSuccess);
  EXPECT_EQ(text, "%ROOT%\\x");
  EXPECT_EQ(reader.queryNumber(kParams, "AUTOIPNAME", number), kSuccess);
  EXPECT_EQ(number, 0xA1B2C3D4u);
  EXPECT_EQ(reader.queryMultiString(kParams, "Dns", list), kSuccess);
  EXPECT_THAT(list, ElementsAre("10.0.0.1", "fe80::1", "\xF0\x9F\x98\x80"));
  EXPECT_THAT(readFile(), HasSubstr("\"AutoIpName\"=dword:a1b2c3d4\n"));
}

TEST_F(RegistryTest, TypedQueriesRefuseOtherTypesButBinaryTakesAny) {
  Registry reg(file_);
  ASSERT_EQ(reg.setNumber(kParams, "Number", 5), kSuccess);
  ASSERT_EQ(reg.setString(kParams, "Text", "5"), kSuccess);
  ASSERT_EQ(reg.setValue(kParams, "Short", ValueType::Dword, {5}), kSuccess);
  std::string text;
  uint32_t number = 0;
  std::vector<std::string> list;
  std::vector<uint8_t> bytes;
  EXPECT_EQ(reg.queryString(kParams, "Number", text), kInvalidData);
  EXPECT_THAT(reg.lastError(), HasSubstr("value \"Number\" under HKEY_LOCAL_MACHINE\\SOFTWARE"));
  EXPECT_EQ(reg.queryNumber(kParams, "Text", number), kInvalidData);
  EXPECT_EQ(reg.queryNumber(kParams, "Short", number), kInvalidData);
  EXPECT_EQ(reg.queryMultiString(kParams, "Text", list), kInvalidData);
  EXPECT_EQ(reg.queryBinary(kParams, "Number", bytes), kSuccess);
  EXPECT_THAT(bytes, ElementsAre(5, 0, 0, 0));
  EXPECT_EQ(reg.queryBinary(kParams, "Text", bytes), kSuccess);
  EXPECT_THAT(bytes, ElementsAre('5', 0));
}

TEST_F(RegistryTest, MissingFileReadsAsEmptyAndWritesCreateIt) {
  Registry reg(file_);
  std::string text, name;
  std::vector<std::string> names;
  EXPECT_EQ(reg.keyExists("HKEY_LOCAL_MACHINE"), kSuccess);  // root keys always exist
  EXPECT_EQ(reg.keyExists(kParams), kFileNotFound);
  EXPECT_EQ(reg.queryString(kParams, "DataPath", text), kFileNotFound);
  EXPECT_EQ(reg.enumSubkeys(kParams, names), kFileNotFound);
  EXPECT_EQ(reg.deleteValue(kParams, "DataPath"), kFileNotFound);
  EXPECT_EQ(reg.deleteKey(kParams), kFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(file_));
  ASSERT_EQ(reg.setString(kParams, "DataPath", "x"), kSuccess);
  EXPECT_TRUE(std::filesystem::is_regular_file(file_));
  EXPECT_EQ(reg.keyExists("HKLM\\SOFTWARE\\Quorvik"), kSuccess);  // parents exist implicitly
  EXPECT_EQ(reg.queryString(kParams, "Missing", text), kFileNotFound);
  EXPECT_THAT(reg.lastError(), HasSubstr("\"Missing\""));
}

// The file holds the access key: created for root alone (or root and the
// "veltris" group), and a rewrite keeps the mode and group it was given.
TEST_F(RegistryTest, NewFileIsNotReadableByOthersAndRewritesKeepModeAndGroup) {
  Registry reg(file_);
  ASSERT_EQ(reg.setString(kParams, "OpenKey", "Secret"), kSuccess);
  struct stat st {};
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0007, 0u) << std::oct << (st.st_mode & 0777);
  EXPECT_EQ(st.st_mode & 0777, ::getgrnam("veltris") != nullptr ? 0640u : 0600u) << std::oct << (st.st_mode & 0777);
  ASSERT_EQ(::chmod(file_.c_str(), 0604), 0);
  const gid_t group = ::getegid();
  ASSERT_EQ(reg.setString(kParams, "DataPath", "/x"), kSuccess);
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0604u);
  EXPECT_EQ(st.st_gid, group);
}

// The commented sample in the source tree reads as the README says.
TEST(SampleRegistry, ReadsTheKeyTheHistoryFolderAndTheAdapters) {
  Registry sample(std::filesystem::path(VELTRIS_SOURCE_DIR) / "scripts/registry.sample.reg");
  std::string text;
  ASSERT_EQ(sample.queryString(kParams, "OpenKey", text), kSuccess) << sample.lastError();
  EXPECT_EQ(text, "change-me-please");
  EXPECT_LE(text.size(), 16u);
  ASSERT_EQ(sample.queryString(kParams, "DataPath", text), kSuccess);
  EXPECT_EQ(text, "/var/lib/veltris/VELTRIS History");
  uint32_t number = 1;
  ASSERT_EQ(sample.queryNumber(kParams, "AutoIpName", number), kSuccess);
  EXPECT_EQ(number, 0u);
  std::vector<std::string> adapters;
  ASSERT_EQ(sample.queryMultiString("HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tapsor\\Linkage", "Export", adapters),
            kSuccess);
  EXPECT_THAT(adapters, ElementsAre("\\Device\\Tapsor_eth0"));
}

TEST_F(RegistryTest, SubkeysEnumerateInNameOrderThenNoMoreItems) {
  Registry reg(file_);
  for (const char* key : {"HKLM\\S\\delta", "HKLM\\S\\Alpha", "HKLM\\S\\charlie\\deep", "HKLM\\S\\Bravo"}) {
    ASSERT_EQ(reg.createKey(key), kSuccess) << key;
  }
  std::vector<std::string> names;
  ASSERT_EQ(reg.enumSubkeys("HKLM\\S", names), kSuccess);
  EXPECT_THAT(names, ElementsAre("Alpha", "Bravo", "charlie", "delta"));
  std::string name;
  ASSERT_EQ(reg.enumSubkey("HKLM\\S", 2, name), kSuccess);
  EXPECT_EQ(name, "charlie");
  EXPECT_EQ(reg.enumSubkey("HKLM\\S", 4, name), kNoMoreItems);
  EXPECT_EQ(reg.enumSubkey("HKLM\\S\\Alpha", 0, name), kNoMoreItems);
  EXPECT_EQ(reg.enumSubkey("HKLM\\Nothing", 0, name), kFileNotFound);
}

TEST_F(RegistryTest, DeletesValuesAndKeysWithTheirSubkeys) {
  Registry reg(file_);
  ASSERT_EQ(reg.setString("HKLM\\A\\B\\C", "v", "1"), kSuccess);
  ASSERT_EQ(reg.setString("HKLM\\A\\B", "w", "2"), kSuccess);
  ASSERT_EQ(reg.setString("HKLM\\A\\E", "x", "3"), kSuccess);
  std::string text;
  ASSERT_EQ(reg.deleteValue("HKLM\\a\\b", "W"), kSuccess);
  EXPECT_EQ(reg.queryString("HKLM\\A\\B", "w", text), kFileNotFound);
  EXPECT_EQ(reg.deleteValue("HKLM\\A\\B", "w"), kFileNotFound);
  ASSERT_EQ(reg.deleteKey("HKLM\\A\\B"), kSuccess);
  EXPECT_EQ(reg.keyExists("HKLM\\A\\B\\C"), kFileNotFound);
  EXPECT_EQ(reg.keyExists("HKLM\\A\\B"), kFileNotFound);
  EXPECT_EQ(reg.deleteKey("HKLM\\A\\B"), kFileNotFound);
  // A parent that only existed through its subkey stays when the subkey goes.
  ASSERT_EQ(reg.deleteKey("HKLM\\A\\E"), kSuccess);
  EXPECT_EQ(reg.keyExists("HKLM\\A"), kSuccess);
  EXPECT_EQ(reg.deleteKey("HKLM"), kAccessDenied);
}

TEST_F(RegistryTest, BadPathsNamesAndDataAreInvalidParameters) {
  Registry reg(file_);
  std::string text;
  EXPECT_EQ(reg.keyExists("SOFTWARE\\Quorvik"), kInvalidParameter);
  EXPECT_THAT(reg.lastError(), HasSubstr("does not start with a root key"));
  EXPECT_EQ(reg.setString("HKLM\\A\\\\B", "v", "x"), kInvalidParameter);
  EXPECT_EQ(reg.setString("HKLM\\A\\", "v", "x"), kInvalidParameter);
  EXPECT_EQ(reg.createKey("HKLM\\" + std::string(256, 'k')), kInvalidParameter);
  EXPECT_EQ(reg.setString("HKLM\\A", "two\nlines", "x"), kInvalidParameter);
  EXPECT_EQ(reg.setString("HKLM\\A", "v", std::string("a\0b", 3)), kInvalidParameter);
  EXPECT_EQ(reg.setMultiString("HKLM\\A", "v", {"a", "", "b"}), kInvalidParameter);
  EXPECT_EQ(reg.setValue("HKLM\\A", "v", ValueType::Sz, {0xC3, 0x28, 0}), kInvalidParameter);
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(RegistryTest, MalformedFileRefusesWritesAndStaysByteIdentical) {
  const std::string text =
      "Windows Registry Editor Version 5.00\n\n[HKLM\\A]\n\"good\"=dword:00000001\n\"bad\"=dword:xyz\n";
  writeFile(text);
  Registry reg(file_);
  uint32_t number = 0;
  EXPECT_EQ(reg.queryNumber("HKLM\\A", "good", number), kInvalidData);
  EXPECT_THAT(reg.lastError(), HasSubstr(file_.string() + ": line 5: dword"));
  EXPECT_EQ(reg.setNumber("HKLM\\A", "other", 2), kInvalidData);
  EXPECT_EQ(reg.deleteKey("HKLM\\A"), kInvalidData);
  EXPECT_EQ(reg.createKey("HKLM\\B"), kInvalidData);
  EXPECT_EQ(readFile(), text);
}

TEST_F(RegistryTest, UnreadableFileIsAccessDenied) {
  std::filesystem::create_directories(file_);  // a directory where the file should be
  Registry reg(file_);
  std::string text;
  EXPECT_EQ(reg.queryString(kParams, "DataPath", text), kAccessDenied);
  EXPECT_THAT(reg.lastError(), HasSubstr(file_.string()));
  EXPECT_EQ(reg.setString(kParams, "DataPath", "x"), kAccessDenied);
  EXPECT_TRUE(std::filesystem::is_directory(file_));
}

TEST_F(RegistryTest, FileWithoutPermissionsIsAccessDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files regardless of their mode";
  writeFile("Windows Registry Editor Version 5.00\n");
  ::chmod(file_.c_str(), 0);
  Registry reg(file_);
  EXPECT_EQ(reg.keyExists("HKLM\\A"), kAccessDenied);
  EXPECT_THAT(reg.lastError(), HasSubstr("Permission denied"));
  EXPECT_EQ(reg.setNumber("HKLM\\A", "v", 1), kAccessDenied);
}

TEST_F(RegistryTest, FilesOverSixteenMebibytesAreRefused) {
  writeFile("Windows Registry Editor Version 5.00\n");
  std::filesystem::resize_file(file_, 16 * 1024 * 1024 + 1);
  Registry reg(file_);
  EXPECT_EQ(reg.keyExists("HKLM\\A"), kInvalidData);
  EXPECT_THAT(reg.lastError(), HasSubstr("larger than 16 MiB"));
  EXPECT_EQ(reg.setNumber("HKLM\\A", "v", 1), kInvalidData);
  EXPECT_EQ(std::filesystem::file_size(file_), 16u * 1024 * 1024 + 1);
}

TEST_F(RegistryTest, SystemRegistryLivesUnderTheSystemRoot) {
  ::setenv("VELTRIS_ROOT", dir_.c_str(), 1);
  Registry reg = Registry::system();
  ::unsetenv("VELTRIS_ROOT");
  EXPECT_EQ(reg.file(), dir_ / "etc/veltris/registry.reg");
  ASSERT_EQ(reg.setNumber(kParams, "AutoIpName", 1), kSuccess) << reg.lastError();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "etc/veltris/registry.reg"));
}

constexpr int kWriters = 4;
constexpr int kValuesEach = 20;

void writeValues(const std::filesystem::path& file, int writer) {
  Registry reg(file);
  for (int i = 0; i < kValuesEach; ++i) {
    const std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
    if (reg.setNumber(kParams, name, writer * 1000 + i) != kSuccess) ADD_FAILURE() << reg.lastError();
  }
}

void expectAllValues(const std::filesystem::path& file) {
  Registry reg(file);
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int i = 0; i < kValuesEach; ++i) {
      uint32_t number = 0;
      const std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
      ASSERT_EQ(reg.queryNumber(kParams, name, number), kSuccess) << name;
      EXPECT_EQ(number, static_cast<uint32_t>(writer * 1000 + i));
    }
  }
}

TEST_F(RegistryTest, ConcurrentThreadsLoseNoValue) {
  std::vector<std::thread> threads;
  for (int writer = 0; writer < kWriters; ++writer) threads.emplace_back(writeValues, file_, writer);
  for (std::thread& thread : threads) thread.join();
  expectAllValues(file_);
}

TEST_F(RegistryTest, ConcurrentProcessesLoseNoValue) {
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Registry reg(file_);
      int failures = 0;
      for (int i = 0; i < kValuesEach; ++i) {
        const std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
        failures += reg.setNumber(kParams, name, writer * 1000 + i) != kSuccess;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  expectAllValues(file_);
}

TEST_F(RegistryTest, ReadersNeverSeeAPartialFile) {
  constexpr int kRewrites = 40;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    Registry reg(file_);
    for (int round = 1; round <= kRewrites; ++round) {
      // Each round's blob has its own length and fill byte, so a mix of two rounds shows.
      const std::vector<uint8_t> blob(20000 + round * 997, static_cast<uint8_t>(round));
      if (reg.setBinary(kParams, "Blob", blob) != kSuccess) ADD_FAILURE() << reg.lastError();
    }
    done = true;
  });
  Registry reader(file_);
  int seen = 0;
  while (!done.load()) {
    std::vector<uint8_t> blob;
    const long result = reader.queryBinary(kParams, "Blob", blob);
    if (result == kFileNotFound) continue;
    ASSERT_EQ(result, kSuccess) << reader.lastError();
    ASSERT_FALSE(blob.empty());
    EXPECT_EQ(blob.size(), 20000u + blob[0] * 997u);
    EXPECT_EQ(std::count(blob.begin(), blob.end(), blob[0]), static_cast<long>(blob.size()));
    ++seen;
  }
  writer.join();
  std::vector<uint8_t> last;
  ASSERT_EQ(reader.queryBinary(kParams, "Blob", last), kSuccess);
  EXPECT_EQ(last.size(), 20000u + kRewrites * 997u);
  RecordProperty("reads", seen);
}

}  // namespace
}  // namespace veltris::reg
