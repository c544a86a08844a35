#include "agent/core/access_watch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "common/registry_names.h"
#include "platform/registry/registry.h"
#include "platform/system_root.h"
#include "tests/support/agent_clock.h"

namespace veltris::agent {
namespace {

using namespace std::chrono_literals;

std::string keyText(GlobalArea& global) {
  std::lock_guard lock(global.labelMutex);
  return std::string(reinterpret_cast<const char*>(global.accessKey), strnlen(reinterpret_cast<const char*>(global.accessKey), 16));
}

void writeKey(std::string_view key) {
  reg::Registry registry = reg::Registry::system();
  ASSERT_EQ(registry.setString(kParametersKey, "OpenKey", key), reg::kSuccess);
}

bool waitForKey(GlobalArea& global, const std::string& key) {
  for (int i = 0; i < 500 && keyText(global) != key; ++i) std::this_thread::sleep_for(10ms);
  return keyText(global) == key;
}

TEST(AccessParameterWatch, ReadsOnlyChangedFilesAndAtMostOncePerInterval) {
  testing::ScratchRoot root;
  writeKey("First");
  GlobalArea global;
  AccessParameterWatch watch(global, platform::registryFile(), {}, 300ms);
  EXPECT_TRUE(watch.reloadIfChanged());  // nothing read yet through the watch
  EXPECT_EQ(keyText(global), "First");
  EXPECT_FALSE(watch.reloadIfChanged());  // unchanged: no read
  writeKey("Second");
  EXPECT_FALSE(watch.reloadIfChanged());  // changed, but the last read is too recent
  EXPECT_EQ(keyText(global), "First");
  std::this_thread::sleep_for(350ms);
  EXPECT_TRUE(watch.reloadIfChanged());
  EXPECT_EQ(keyText(global), "Second");
  EXPECT_EQ(watch.reloads(), 2u);
}

TEST(AccessParameterWatch, TheWatcherPicksUpANewKeyWithoutBeingAsked) {
  testing::ScratchRoot root;
  writeKey("Before");
  GlobalArea global;
  AccessParameterWatch watch(global, platform::registryFile());
  watch.start();
  ASSERT_TRUE(waitForKey(global, "Before"));
  writeKey("AfterOne");
  EXPECT_TRUE(waitForKey(global, "AfterOne"));
  writeKey("AfterTwo");  // within the second: read once the interval has passed
  EXPECT_TRUE(waitForKey(global, "AfterTwo"));
  std::filesystem::remove(platform::registryFile());  // no key at all: a random one
  for (int i = 0; i < 300 && keyText(global) == "AfterTwo"; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_NE(keyText(global), "AfterTwo");
  watch.stop();
}

}  // namespace
}  // namespace veltris::agent
