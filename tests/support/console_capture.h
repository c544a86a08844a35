#pragma once
// Collects what the agent prints on its console while it lives, in place of
// standard output.
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "agent/core/runtime.h"

namespace veltris::agent::testing {

class ConsoleCapture {
 public:
  ConsoleCapture() {
    previous_ = setConsoleSink([this](std::string_view text) {
      std::lock_guard lock(mutex_);
      text_.append(text);
    });
  }
  ~ConsoleCapture() { setConsoleSink(std::move(previous_)); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  // What was printed since the capture began or since the last take().
  std::string take() {
    std::lock_guard lock(mutex_);
    return std::exchange(text_, {});
  }

 private:
  std::mutex mutex_;
  std::string text_;
  ConsoleSink previous_;
};

}  // namespace veltris::agent::testing
