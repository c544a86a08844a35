#pragma once
// The Debian packages of the programs that the agent's commands run: a
// command whose program is missing says what to install.
#include <string>
#include <string_view>

namespace veltris::runner {

// The package that provides `program` (a name without a folder), or empty.
std::string_view packageOfProgram(std::string_view program);

// A note for a program that is on no folder of `searchPath` (PATH's form) and
// comes with a known package; empty otherwise.
std::string missingProgramNote(std::string_view program, std::string_view searchPath);

}  // namespace veltris::runner
