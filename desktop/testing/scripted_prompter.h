#pragma once
// A prompter for tests: records every message box and answers from a script.
#include <QString>
#include <utility>
#include <vector>

#include "desktop/messages.h"

namespace veltris::desktop::test {

class ScriptedPrompter final : public Prompter {
 public:
  // Installs itself for its lifetime.
  ScriptedPrompter();
  ~ScriptedPrompter() override;
  ScriptedPrompter(const ScriptedPrompter&) = delete;
  ScriptedPrompter& operator=(const ScriptedPrompter&) = delete;

  // The first scripted answer whose text starts the message wins; unscripted
  // boxes answer Yes, Ok, or Cancel for Retry/Cancel.
  Answer ask(const Message& message) override;
  void beep() override { ++beeps; }
  void answer(const QString& textStart, Answer answer) { script_.push_back({textStart, answer}); }
  bool saw(const QString& textStart) const;
  void reset();

  std::vector<Message> shown;
  int beeps = 0;

 private:
  std::vector<std::pair<QString, Answer>> script_;
  Prompter* previous_;
};

}  // namespace veltris::desktop::test
