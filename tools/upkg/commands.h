// The packer's command line: upkg build | list | verify | extract | checksum.
#pragma once

#include <string>
#include <vector>

namespace upkg {

// Exit codes.
constexpr int ExitOk = 0;
constexpr int ExitDamaged = 1;  // a damaged package, or a file that cannot be read or written
constexpr int ExitUsage = 2;    // wrong arguments, or inputs that cannot make a package

// Runs the command in `arguments` (UTF-8, without the program name).
int RunUpkg(const std::vector<std::string>& arguments);

}  // namespace upkg
