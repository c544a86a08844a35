#include "desktop/testing/scripted_access.h"

#include <cstring>

namespace veltris::desktop {
namespace {

constexpr const char* kCallNames[] = {"open", "write", "read", "save", "close"};
// A read step with this marker matches every remaining read.
constexpr int32_t kEndOfReply = -1000;

std::string describe(ScriptedAccess::Call call, const std::string& text) {
  return std::string(kCallNames[static_cast<int>(call)]) + (text.empty() ? "" : " " + text);
}

}  // namespace

ScriptedAccess& ScriptedAccess::expectOpen(std::string computer, int32_t result) {
  std::lock_guard lock(mutex_);
  steps_.push_back({Call::Open, std::move(computer), result, {}});
  return *this;
}
ScriptedAccess& ScriptedAccess::expectWrite(std::string request, int32_t result) {
  std::lock_guard lock(mutex_);
  steps_.push_back({Call::Write, std::move(request), result, {}});
  return *this;
}
ScriptedAccess& ScriptedAccess::expectRead(std::vector<uint8_t> bytes, int32_t result) {
  std::lock_guard lock(mutex_);
  steps_.push_back({Call::Read, "", result, std::move(bytes)});
  return *this;
}
ScriptedAccess& ScriptedAccess::expectReadFailure() { return expectRead({}, -1); }
ScriptedAccess& ScriptedAccess::expectSave(std::string path, int32_t result) {
  std::lock_guard lock(mutex_);
  steps_.push_back({Call::Save, std::move(path), result, {}});
  return *this;
}
ScriptedAccess& ScriptedAccess::expectClose() {
  std::lock_guard lock(mutex_);
  steps_.push_back({Call::Close, "", 0, {}});
  return *this;
}
ScriptedAccess& ScriptedAccess::expectReplyEnd() {
  std::lock_guard lock(mutex_);
  steps_.push_back({Call::Read, "", kEndOfReply, {}});
  return *this;
}

bool ScriptedAccess::finished() const {
  std::lock_guard lock(mutex_);
  return steps_.empty() || (steps_.size() == 1 && steps_.front().result == kEndOfReply);
}
std::vector<std::string> ScriptedAccess::mismatches() const {
  std::lock_guard lock(mutex_);
  return mismatches_;
}
std::vector<std::string> ScriptedAccess::played() const {
  std::lock_guard lock(mutex_);
  return played_;
}

void ScriptedAccess::holdNextCall() {
  std::lock_guard lock(mutex_);
  hold_ = true;
}
void ScriptedAccess::release() {
  {
    std::lock_guard lock(mutex_);
    hold_ = false;
  }
  released_.notify_all();
}

bool ScriptedAccess::holding() const {
  std::lock_guard lock(mutex_);
  return hold_ && held_ > 0;
}

int32_t ScriptedAccess::play(Call call, const std::string& text, void* record, int32_t size) {
  std::unique_lock lock(mutex_);
  ++held_;
  released_.wait(lock, [this] { return !hold_; });
  --held_;
  std::string what = describe(call, call == Call::Read ? std::to_string(size) : text);
  played_.push_back(what);
  if (record != nullptr) std::memset(record, 0, static_cast<size_t>(size));
  // The end-of-reply marker answers reads; any other call moves past it.
  while (!steps_.empty() && steps_.front().result == kEndOfReply && call != Call::Read) steps_.pop_front();
  if (steps_.empty()) {
    mismatches_.push_back("unexpected " + what);
    return -1;
  }
  const Step& step = steps_.front();
  if (step.call == Call::Read && step.result == kEndOfReply && call == Call::Read) return -1;
  if (step.call != call || (call != Call::Read && step.text != text)) {
    mismatches_.push_back("expected " + describe(step.call, step.text) + ", got " + what);
    return -1;
  }
  int32_t result = step.result;
  if (record != nullptr) {
    std::memcpy(record, step.bytes.data(), std::min(step.bytes.size(), static_cast<size_t>(size)));
  }
  steps_.pop_front();
  return result;
}

int32_t ScriptedAccess::open(const char* computer) { return play(Call::Open, computer ? computer : ""); }
int32_t ScriptedAccess::write(const char* request) { return play(Call::Write, request); }
int32_t ScriptedAccess::read(void* record, int32_t size) { return play(Call::Read, "", record, size); }
int32_t ScriptedAccess::save(const char* path) { return play(Call::Save, path); }
int32_t ScriptedAccess::close() { return play(Call::Close, ""); }

}  // namespace veltris::desktop
