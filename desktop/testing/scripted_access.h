#pragma once
// AgentAccess that plays a script: each call must be the next expected one,
// and answers with the scripted result (and, for reads, the scripted bytes).
// A call that does not match the script, or comes after its end, is recorded
// as a mismatch and answered with -1. Thread-safe: tests script on the UI
// thread while the console calls from its request thread.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/agent_access.h"

namespace veltris::desktop {

class ScriptedAccess final : public AgentAccess {
 public:
  enum class Call { Open, Write, Read, Save, Close };
  struct Step {
    Call call;
    std::string text;            // open: computer ("" = null), write: request, save: path
    int32_t result = 0;
    std::vector<uint8_t> bytes;  // read: the record (shorter is zero-padded)
  };

  // Script building; each returns *this.
  ScriptedAccess& expectOpen(std::string computer, int32_t result = 0);
  ScriptedAccess& expectWrite(std::string request, int32_t result = 0);
  ScriptedAccess& expectRead(std::vector<uint8_t> bytes, int32_t result = 0);
  ScriptedAccess& expectReadFailure();  // -1, zero-filled record
  ScriptedAccess& expectSave(std::string path, int32_t result = 0);
  ScriptedAccess& expectClose();
  // Any read of any size answers -1 from here on (the end of a reply).
  ScriptedAccess& expectReplyEnd();

  template <typename Record>
  ScriptedAccess& expectRecord(const Record& record) {
    const auto* p = reinterpret_cast<const uint8_t*>(&record);
    return expectRead(std::vector<uint8_t>(p, p + sizeof(Record)));
  }

  bool finished() const;                   // every step was played
  std::vector<std::string> mismatches() const;
  std::vector<std::string> played() const;  // "open X", "write Y", "read N", ...
  // Blocks the request thread at the next call until release() (slow agents).
  void holdNextCall();
  void release();
  bool holding() const;  // a call waits for release()

  int32_t open(const char* computer) override;
  int32_t write(const char* request) override;
  int32_t read(void* record, int32_t size) override;
  int32_t save(const char* path) override;
  int32_t close() override;

 private:
  int32_t play(Call call, const std::string& text, void* record = nullptr, int32_t size = 0);

  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool hold_ = false;
  int held_ = 0;
  std::deque<Step> steps_;
  std::vector<std::string> mismatches_;
  std::vector<std::string> played_;
};

}  // namespace veltris::desktop
