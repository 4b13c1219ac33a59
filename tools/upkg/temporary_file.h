// A file written under a fresh name beside its final place and moved there only when
// complete, so that a failure or an interruption never leaves a partial file under the
// final name, and no file that happens to have the temporary name is ever touched.
#pragma once

#include <filesystem>
#include <string>

#include "package/file.h"

class TemporaryFile {
public:
    // `target` is the final place; every message names it, never the temporary name.
    explicit TemporaryFile(std::filesystem::path target) : target_(std::move(target)) {}
    ~TemporaryFile();  // removes the temporary file unless it was put in place
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates the temporary file exclusively under a name that did not exist; false with
    // `error` set when its folder refuses.
    bool Create(std::string& error);
    CFileDX& file() { return file_; }

    // Moves the closed file to the target, over an existing file only when `replace`.
    bool PutInPlace(bool replace, std::string& error);

    // "cannot write "TARGET": REASON", from the file handle's last failure.
    std::string WriteError() const;

private:
    std::filesystem::path target_;
    std::filesystem::path path_;
    CFileDX file_;
    bool placed_ = false;
};
