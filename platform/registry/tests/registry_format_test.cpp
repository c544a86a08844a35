// The file format: hand-written regedit text in, regedit-style text out.
#include "platform/registry/registry_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "platform/registry/registry.h"
#include "platform/registry/tests/registry_test_util.h"

namespace veltris::reg {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::kParams;
using RegistryFormatTest = testing::RegistryDirTest;

// As regedit exports it (CRLF, wrapped hex lists), plus comments and spacing regedit accepts.
const char* const kExport =
    "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; agent parameters\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\r\n"
    "@=\"default text\"\r\n"
    "\"DataPath\"=\"C:\\\\Program Files\\\\\\\"Tapsor\\\"\"\r\n"
    "\"AutoIpName\"=dword:0000001f\r\n"
    "\"OpenKey\"=hex:01,02,03,\\\r\n"
    "  04,05\r\n"
    "\"Servers\"=hex(7):31,00,30,00,2e,00,30,00,2e,00,30,00,2e,00,31,00,00,00,31,00,30,\\\r\n"
    "  00,2e,00,30,00,2e,00,30,00,2e,00,32,00,00,00,00,00\r\n"
    "\"ImagePath\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\r\n"
    "    74,00,25,00,5c,00,78,00,00,00\r\n"
    "\"Big\"=hex(b):ff,00,00,00,00,00,00,01\r\n"
    "\"Empty\" = hex:\r\n"
    "\r\n";

TEST_F(RegistryFormatTest, ReadsEveryKindOfValueLine) {
  writeFile(kExport);
  Registry reg(file_);
  std::string text;
  ASSERT_EQ(reg.queryString(kParams, "", text), kSuccess) << reg.lastError();
  EXPECT_EQ(text, "default text");
  ASSERT_EQ(reg.queryString(kParams, "DataPath", text), kSuccess);
  EXPECT_EQ(text, "C:\\Program Files\\\"Tapsor\"");
  uint32_t number = 0;
  ASSERT_EQ(reg.queryNumber(kParams, "AutoIpName", number), kSuccess);
  EXPECT_EQ(number, 0x1fu);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(reg.queryBinary(kParams, "OpenKey", bytes), kSuccess);
  EXPECT_THAT(bytes, ElementsAre(1, 2, 3, 4, 5));
  std::vector<std::string> list;
  ASSERT_EQ(reg.queryMultiString(kParams, "Servers", list), kSuccess);
  EXPECT_THAT(list, ElementsAre("10.0.0.1", "10.0.0.2"));
  ASSERT_EQ(reg.queryString(kParams, "ImagePath", text), kSuccess);
  EXPECT_EQ(text, "%SystemRoot%\\x");
  ValueType type{};
  ASSERT_EQ(reg.queryValue(kParams, "Big", type, bytes), kSuccess);
  EXPECT_EQ(static_cast<uint32_t>(type), 11u);
  EXPECT_THAT(bytes, ElementsAre(0xff, 0, 0, 0, 0, 0, 0, 1));
  ASSERT_EQ(reg.queryValue(kParams, "Empty", type, bytes), kSuccess);
  EXPECT_EQ(type, ValueType::Binary);
  EXPECT_TRUE(bytes.empty());
}

TEST_F(RegistryFormatTest, NamesMatchAnyCaseAndKeepTheFirstCase) {
  writeFile(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quorvik]\n\"Title\"=\"one\"\n\n"
      "[hkey_local_machine\\SOFTWARE\\quorvik]\n\"TITLE\"=\"two\"\n\n"
      "[HKLM\\software\\QUORVIK\\Tapsor]\n\"Title\"=\"t\"\n");
  Registry reg(file_);
  std::string name, text;
  ASSERT_EQ(reg.enumSubkey("HKLM", 0, name), kSuccess);
  EXPECT_EQ(name, "Software");
  ASSERT_EQ(reg.enumSubkey("hklm\\software", 0, name), kSuccess);
  EXPECT_EQ(name, "Quorvik");
  ASSERT_EQ(reg.queryString("HKLM\\SOFTWARE\\QUORVIK", "title", text), kSuccess);
  EXPECT_EQ(text, "two");  // a later line for the same value wins
  ASSERT_EQ(reg.setString("HKLM\\software\\QUORVIK\\TAPSOR", "TITLE", "three"), kSuccess);
  const std::string written = readFile();
  EXPECT_THAT(written, HasSubstr("[HKEY_LOCAL_MACHINE\\Software\\Quorvik]\n\"Title\"=\"two\"\n"));
  EXPECT_THAT(written, HasSubstr("[HKEY_LOCAL_MACHINE\\Software\\Quorvik\\Tapsor]\n\"Title\"=\"three\"\n"));
}

TEST_F(RegistryFormatTest, DeletionLinesApplyAsInAnImport) {
  writeFile(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKLM\\A\\B\\C]\n\"x\"=dword:1\n"
      "[HKLM\\A\\D]\n\"keep\"=\"1\"\n\"drop\"=\"2\"\n\"drop\"=-\n"
      "[-HKLM\\A\\B]\n");
  Registry reg(file_);
  std::string text;
  EXPECT_EQ(reg.keyExists("HKLM\\A\\B"), kFileNotFound);
  EXPECT_EQ(reg.keyExists("HKLM\\A\\D"), kSuccess);
  EXPECT_EQ(reg.queryString("HKLM\\A\\D", "drop", text), kFileNotFound);
  EXPECT_EQ(reg.queryString("HKLM\\A\\D", "keep", text), kSuccess);
}

TEST_F(RegistryFormatTest, EmptyOrBlankFilesAreAnEmptyRegistry) {
  for (const char* text : {"", "\n\n  \n", "\xEF\xBB\xBF", "Windows Registry Editor Version 5.00\r\n"}) {
    writeFile(text);
    Registry reg(file_);
    std::string name;
    EXPECT_EQ(reg.keyExists("HKLM\\SOFTWARE"), kFileNotFound) << reg.lastError();
    EXPECT_EQ(reg.enumSubkey("HKLM", 0, name), kNoMoreItems);
    EXPECT_EQ(reg.setNumber(kParams, "AutoIpName", 1), kSuccess) << reg.lastError();
  }
}

struct Malformed {
  const char* body;  // after the header line
  int line;
  const char* reason;
};

TEST_F(RegistryFormatTest, MalformedFilesNameTheLineAndTheFault) {
  const Malformed cases[] = {
      {"[HKLM\\A]\n\"v\"=\"a\\tb\"\n", 3, "unknown escape"},
      {"[HKLM\\A]\n\"v\"=hex:01,zz\n", 3, "bad hex byte \"zz\""},
      {"[HKLM\\A]\n\"v\"=hex:01,,02\n", 3, "bad hex byte"},
      {"\"v\"=dword:1\n", 2, "before any [key]"},
      {"[HKLM\\A]\n\"v\"=dword:123456789\n", 3, "dword needs 1 to 8 hex digits"},
      {"[HKLM\\A]\n\n\"v\"=hex:01,\\\n", 4, "past the end of the file"},
      {"[HKEY_NOWHERE\\A]\n", 2, "does not start with a root key"},
      {"[HKLM\\A\\\\B]\n", 2, "empty key name"},
      {"[HKLM\\A\n", 2, "does not end with ']'"},
      {"[HKLM\\A]\n\"v\"=\"a\" x\n", 3, "text after the closing quote"},
      {"[HKLM\\A]\n\"v\"=\"abc\n", 3, "missing closing quote"},
      {"[HKLM\\A]\n\"v\"=qword:1\n", 3, "unknown value data"},
      {"[HKLM\\A]\n\"v\"\n", 3, "expected '='"},
      {"[HKLM\\A]\n\"v\"=hex(7):41\n", 3, "not UTF-16LE text"},
      {"[HKLM\\A]\n\"v\"=hex(7):00,d8,41,00\n", 3, "not UTF-16LE text"},
      {"[HKLM\\A]\n\"v\"=\"\xC3\x28\"\n", 3, "not valid UTF-8"},
      {"[-HKLM\\A]\n\"v\"=\"x\"\n", 3, "under a deleted key"},
      {"[-HKLM]\n", 2, "root key cannot be deleted"},
      {"[HKLM\\A]\nrandom words\n", 3, "unexpected text"},
  };
  for (const Malformed& c : cases) {
    writeFile(std::string("Windows Registry Editor Version 5.00\n") + c.body);
    Registry reg(file_);
    EXPECT_EQ(reg.keyExists("HKLM"), kInvalidData) << c.body;
    EXPECT_THAT(reg.lastError(), HasSubstr(file_.string() + ": line " + std::to_string(c.line) + ": ")) << c.body;
    EXPECT_THAT(reg.lastError(), HasSubstr(c.reason)) << c.body;
  }
}

TEST_F(RegistryFormatTest, RejectsOtherHeadersAndEncodings) {
  const std::pair<std::string, std::string> cases[] = {
      {"REGEDIT4\n", "line 1: REGEDIT4 files are not supported"},
      {"\n; note\nWindows Registry Editor Version 4.00\n", "line 3: expected \"Windows Registry Editor"},
      {std::string("\xFF\xFEW\0i\0", 6), "line 1: file is UTF-16"},
      {std::string("Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"v\"=\"a") + '\0' + "b\"\n",
       "line 3: NUL character"},
  };
  for (const auto& [text, reason] : cases) {
    writeFile(text);
    Registry reg(file_);
    EXPECT_EQ(reg.keyExists("HKLM"), kInvalidData);
    EXPECT_THAT(reg.lastError(), HasSubstr(reason));
  }
}

TEST_F(RegistryFormatTest, WritesRegeditStyleText) {
  Registry reg(file_);
  ASSERT_EQ(reg.setString(kParams, "DataPath", "C:\\VELTRIS \"data\""), kSuccess);
  ASSERT_EQ(reg.setNumber(kParams, "AutoIpName", 0x1f), kSuccess);
  ASSERT_EQ(reg.setMultiString(kParams, "List", {"a", "b"}), kSuccess);
  ASSERT_EQ(reg.setString(kParams, "", "dflt"), kSuccess);
  ASSERT_EQ(reg.createKey("HKLM\\SOFTWARE\\Quorvik\\Tapsor\\CurrentVersion"), kSuccess);
  EXPECT_EQ(readFile(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\Tapsor\\CurrentVersion]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\n"
            "\"DataPath\"=\"C:\\\\VELTRIS \\\"data\\\"\"\n"
            "\"AutoIpName\"=dword:0000001f\n"
            "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
            "@=\"dflt\"\n\n");
}

TEST_F(RegistryFormatTest, LongHexListsWrapWithinEightyColumnsAndReadBack) {
  std::vector<uint8_t> blob(1000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
  Registry reg(file_);
  ASSERT_EQ(reg.setBinary(kParams, "Blob", blob), kSuccess);
  std::istringstream lines(readFile());
  std::string line;
  int continued = 0;
  while (std::getline(lines, line)) {
    EXPECT_LE(line.size(), 80u) << line;
    if (!line.empty() && line.back() == '\\') ++continued;
  }
  EXPECT_GT(continued, 10);
  std::vector<uint8_t> back;
  ASSERT_EQ(reg.queryBinary(kParams, "Blob", back), kSuccess);
  EXPECT_EQ(back, blob);
}

TEST(RegistryFormatText, RewrittenTextParsesToTheSameText) {
  using namespace detail;
  RegTree tree;
  ParseError error;
  ASSERT_TRUE(parseRegistryText(kExport, tree, error)) << error.message;
  std::string first, second, why;
  ASSERT_TRUE(formatRegistryText(tree, first, why));
  RegTree again;
  ASSERT_TRUE(parseRegistryText(first, again, error)) << error.line << ": " << error.message;
  ASSERT_TRUE(formatRegistryText(again, second, why));
  EXPECT_EQ(first, second);
}

}  // namespace
}  // namespace veltris::reg
