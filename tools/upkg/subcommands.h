// The commands behind RunUpkg: each takes its parsed words and returns the exit code.
#pragma once

#include <string>

#include "tools/upkg/arguments.h"
#include "tools/upkg/commands.h"

namespace upkg {

int RunBuild(const Arguments& args);
int RunList(const Arguments& args);
int RunVerify(const Arguments& args);
int RunExtract(const Arguments& args);
int RunCheck(const Arguments& args);
int RunChecksum(const Arguments& args);

// The message on stderr, and where the usage of `command` is told; returns ExitUsage.
int UsageError(const std::string& command, const std::string& message);

}  // namespace upkg
