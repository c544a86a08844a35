#pragma once
// A fresh directory per test, and whole-file helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace veltris::reg::testing {

class RegistryDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "veltris-reg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    file_ = dir_ / "etc" / "registry.reg";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(dir_ / "etc", std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
  }

  void writeFile(const std::string& text) {
    std::filesystem::create_directories(file_.parent_path());
    std::ofstream(file_, std::ios::binary) << text;
  }
  std::string readFile() const {
    std::ifstream in(file_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path dir_;
  std::filesystem::path file_;
};

inline constexpr const char* kParams = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters";

}  // namespace veltris::reg::testing
