// The sample registry shipped with the agent parses, and its commented
// adapter lines give the value they describe once uncommented.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry/registry.h"

namespace {

constexpr char kParameters[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters";
constexpr char kLinkage[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tapsor\\Linkage";

std::string sampleText() {
  std::ifstream in(SAMPLE_REGISTRY);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SampleRegistry : public ::testing::Test {
 protected:
  std::filesystem::path writeCopy(const std::string& text) {
    std::filesystem::path file = std::filesystem::temp_directory_path() /
                                 ("veltris-sample-" + std::to_string(::getpid()) + ".reg");
    std::ofstream(file) << text;
    files_.push_back(file);
    return file;
  }
  ~SampleRegistry() override {
    for (const auto& f : files_) std::filesystem::remove(f);
  }
  std::vector<std::filesystem::path> files_;
};

TEST_F(SampleRegistry, ParametersParseAsDocumented) {
  veltris::reg::Registry registry(writeCopy(sampleText()));
  std::string key, path;
  uint32_t autoName = 7;
  ASSERT_EQ(registry.queryString(kParameters, "OpenKey", key), 0) << registry.lastError();
  EXPECT_FALSE(key.empty());
  ASSERT_EQ(registry.queryString(kParameters, "DataPath", path), 0);
  EXPECT_EQ(path, "/var/lib/veltris/VELTRIS History/");
  ASSERT_EQ(registry.queryNumber(kParameters, "AutoIpName", autoName), 0);
  EXPECT_EQ(autoName, 0u);
  EXPECT_EQ(registry.keyExists(kLinkage), veltris::reg::kFileNotFound);
}

TEST_F(SampleRegistry, UncommentedExportNamesOneAdapter) {
  std::string text = sampleText();
  std::string uncommented;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    bool adapterLine = line.rfind(";[", 0) == 0 || line.rfind(";\"Export\"", 0) == 0 || line.rfind(";  00,", 0) == 0;
    uncommented += (adapterLine ? line.substr(1) : line) + "\n";
  }
  veltris::reg::Registry registry(writeCopy(uncommented));
  std::vector<std::string> devices;
  ASSERT_EQ(registry.queryMultiString(kLinkage, "Export", devices), 0) << registry.lastError();
  EXPECT_EQ(devices, std::vector<std::string>{"\\Device\\Tapsor_eth0"});
}

// The commented listen and metrics lines give values the agent takes, once uncommented.
TEST_F(SampleRegistry, UncommentedAddressLinesGiveTheirValues) {
  struct Case {
    const char* name;
    const char* value;
  };
  const Case cases[] = {{"ListenAddress", "loopback"}, {"MetricsAddress", "127.0.0.1:9464"}};
  for (const Case& c : cases) {
    const std::string text = sampleText();
    const std::string commented = std::string(";\"") + c.name + "\"=";
    const size_t at = text.find(commented);
    ASSERT_NE(at, std::string::npos) << c.name;
    veltris::reg::Registry plain(writeCopy(text));
    std::string value;
    EXPECT_EQ(plain.queryString(kParameters, c.name, value), veltris::reg::kFileNotFound) << "commented out by default";
    veltris::reg::Registry uncommented(writeCopy(text.substr(0, at) + text.substr(at + 1)));
    ASSERT_EQ(uncommented.queryString(kParameters, c.name, value), 0) << uncommented.lastError();
    EXPECT_EQ(value, c.value);
  }
}

}  // namespace
