// How the commands speak: messages on stderr, names in quotes, JSON strings.
#pragma once

#include <string>

#include "package/file.h"

// "upkg: MESSAGE" on stderr; returns `code`.
int Fail(int code, const std::string& message);

// `text` in double quotes, as every message names a file or value.
std::string Quoted(const std::string& text);

// `text` (UTF-8) as a JSON string literal.
std::string JsonString(const std::string& text);

// Why a read of `file` failed: the system's reason, or that the file ended early.
std::string ReadProblem(const CFileDX& file);
