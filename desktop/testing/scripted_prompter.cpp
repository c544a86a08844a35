#include "desktop/testing/scripted_prompter.h"

namespace veltris::desktop::test {

ScriptedPrompter::ScriptedPrompter() : previous_(setPrompter(this)) {}

ScriptedPrompter::~ScriptedPrompter() { setPrompter(previous_); }

Answer ScriptedPrompter::ask(const Message& message) {
  shown.push_back(message);
  for (const auto& [start, answer] : script_)
    if (message.text.startsWith(start)) return answer;
  switch (message.buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel: return Answer::Yes;
    case MessageButtons::RetryCancel: return Answer::Cancel;
    case MessageButtons::Ok: break;
  }
  return Answer::Ok;
}

bool ScriptedPrompter::saw(const QString& textStart) const {
  for (const Message& m : shown)
    if (m.text.startsWith(textStart)) return true;
  return false;
}

void ScriptedPrompter::reset() {
  shown.clear();
  script_.clear();
  beeps = 0;
}

}  // namespace veltris::desktop::test
