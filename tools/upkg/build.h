// Building an update program: the updater stub, padded to the package offset, then the
// package header with the title and an archive of every file below a folder, with a hash
// list of their checksums first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace upkg {

enum class ArchiveFormat { Arc20, PackFile };
enum class HashListVersion { V2, V1, None };

struct BuildRequest {
    std::string stub;    // path of updater.exe (UTF-8)
    std::string title;   // UTF-8
    std::string output;  // path of the update program to write (UTF-8)
    std::string source;  // folder whose files make the update (UTF-8)
    ArchiveFormat format = ArchiveFormat::Arc20;
    HashListVersion hashList = HashListVersion::V2;
    std::vector<std::string> excludes;  // globs of paths below `source` to leave out
    std::string base;  // an earlier update program or zol.hvl; empty for a full update
    bool quiet = false;
    bool verbose = false;  // names each file packed or left out on stdout
};

enum class BuildResult {
    Ok = 0,           // built; for one step of the build, that it went well
    WriteFailed = 1,  // reading a file or writing the output failed; nothing left behind
    Refused = 2,      // the inputs cannot make a valid package; nothing written
};

struct BuildSummary {
    size_t files = 0;          // files packed
    size_t unchanged = 0;      // files left out because the base has them
    size_t leftInstalled = 0;  // files the base records that are not in the source
    size_t unrecorded = 0;     // packed files whose record a v1 base list cannot hold
    uint64_t dataBytes = 0;    // their bytes
    uint64_t outputBytes = 0;  // the whole update program
};

// Builds the update program. On failure `error` says why, naming the file or value and
// the system's reason.
BuildResult BuildPackage(const BuildRequest& request, std::string& error,
                         BuildSummary* summary = nullptr);

}  // namespace upkg
