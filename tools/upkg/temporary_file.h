// The packer's outputs, each written under a fresh name beside its final place and moved there
// only when complete, so that a failure or an interruption never leaves a partial file under
// the final name, and no file that happens to have the temporary name is ever touched.
#pragma once

#include <string>

#include "package/safe_write.h"

namespace upkg {

class TemporaryFile {
public:
    // The final place is `name` in `folder`, which must stay held while this lives; every
    // message names it as `shown`, never by the temporary name.
    TemporaryFile(const package::HeldFolder& folder, std::u16string name, std::string shown)
        : staged_(folder, std::move(name)), shown_(std::move(shown)) {}
    ~TemporaryFile();  // removes the temporary file unless it was put in place
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates the temporary file exclusively under a name that did not exist, removed again
    // if a signal ends the process; false with `error` set when its folder refuses.
    bool Create(std::string& error);
    package::CFileDX& file() { return staged_.file(); }

    // Moves the closed file to the final name, over an existing file only when `replace`.
    // Never flushed: an output of gigabytes is left to the system to write.
    bool PutInPlace(bool replace, std::string& error);

    // "cannot write "SHOWN": REASON", from the file handle's last failure.
    std::string WriteError() const;

private:
    package::StagedFile staged_;
    std::string shown_;
    bool armed_ = false;  // the interrupt cleanup names the temporary file
};

}  // namespace upkg
