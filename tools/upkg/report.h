// How the commands speak: messages on stderr, names in quotes, JSON strings.
#pragma once

#include <filesystem>
#include <string>

#include "package/file.h"

namespace upkg {

// "upkg: MESSAGE" on stderr; returns `code`.
int Fail(int code, const std::string& message);

// A name as the system gave it, or a title, safe to print on a terminal: each byte that is
// not part of UTF-8 text as \xNN, control characters escaped as tar escapes them (\n, \t,
// \x1b, \u009b).
std::string Shown(const std::string& name);

// A path the system gave, printable the same way; on Windows a lone surrogate shows as \uXXXX.
std::string Shown(const std::filesystem::path& path);

// Shown(text) in double quotes, as every message names a file or value.
std::string Quoted(const std::string& text);
std::string Quoted(const std::filesystem::path& path);

// A JSON string literal: bytes that are not UTF-8 as \xNN, control characters as JSON's.
std::string JsonString(const std::string& text);

// Why a read of `file` failed: the system's reason, or that the file ended early.
std::string ReadProblem(const package::CFileDX& file);

}  // namespace upkg
