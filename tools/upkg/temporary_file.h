// A file written under a fresh name beside its final place and moved there only when
// complete, so that a failure or an interruption never leaves a partial file under the
// final name, and no file that happens to have the temporary name is ever touched.
#pragma once

#include <string>

#include "package/file.h"

namespace upkg {

class TemporaryFile {
public:
    // The final place is `name` in `folder`, which must stay held while this lives; every
    // message names it as `shown`, never by the temporary name.
    TemporaryFile(const package::HeldFolder& folder, std::u16string name, std::string shown)
        : folder_(folder), name_(std::move(name)), shown_(std::move(shown)) {}
    ~TemporaryFile();  // removes the temporary file unless it was put in place
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates the temporary file exclusively under a name that did not exist; false with
    // `error` set when its folder refuses.
    bool Create(std::string& error);
    package::CFileDX& file() { return file_; }

    // Moves the closed file to the final name, over an existing file only when `replace`.
    bool PutInPlace(bool replace, std::string& error);

    // "cannot write "SHOWN": REASON", from the file handle's last failure.
    std::string WriteError() const;

private:
    const package::HeldFolder& folder_;
    std::u16string name_;
    std::string shown_;
    std::u16string temporary_;  // empty until created
    package::CFileDX file_;
    bool placed_ = false;
};

}  // namespace upkg
