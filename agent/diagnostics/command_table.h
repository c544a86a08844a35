#pragma once
// The commands the console may send behind "CMD ": each Windows command word
// with its usual switches, translated into the Linux program that does the
// same job. Only these words run; the arguments are checked and handed over
// as separate words, never to a shell.
#include <string>
#include <string_view>
#include <vector>

namespace veltris::agent {

// Longest command text taken: "TAPSORCC.EXE %s" must fit in 255 characters.
constexpr size_t kMaxCommandText = 255 - 13;
// The Linux command line as TapsorCC joins it must fit the same 255.
constexpr size_t kMaxProgramLine = 255;

struct CommandTranslation {
  bool permitted = false;
  std::vector<std::string> program;  // the Linux program and its arguments
  std::string refusal;               // why not, when refused
};

CommandTranslation translateCommand(std::string_view commandText);

// "Command not permitted: '...'" with the reason and the permitted forms.
std::string refusalText(std::string_view commandText, std::string_view reason);

// The permitted forms, one per table row ("PING host", "ROUTE PRINT", ...).
std::vector<std::string_view> permittedForms();

}  // namespace veltris::agent
