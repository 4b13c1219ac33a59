// The files of an update: collected below the source folder and checked against what the
// format and the updater can hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "package/archive_format.h"
#include "package/file.h"
#include "tools/upkg/build.h"

namespace upkg {

struct SourceFile {
    std::filesystem::path path;
    std::string relative;  // UTF-8, backslashes between components
    std::string name;      // UTF-8, the last component
    std::string storedName;
    uint64_t size = 0;
    package::FileIdentity identity;  // as listed: packing refuses a file that is no longer this one
    uint64_t checksum = 0;
    bool checksumKnown = false;  // folded before packing; the packed bytes must fold the same
};

// The shape of what a request writes: the index entries and the hash list's records.
struct PackageLayout {
    const package::IndexLayout& index;
    uint32_t recordSize;
    uint32_t pathField;
    const char* hashListMagic;
};
PackageLayout LayoutFor(const BuildRequest& request);

// True when `text` matches `pattern` as a whole: * any run of characters, / included as in
// tar's and zip's exclusions; ? one character; [abc], [a-z], [!a-z] one byte of a set.
bool GlobMatches(const char* pattern, const char* text);

// Every regular file below request.source that no exclusion matches, ordered by relative
// path; with request.verbose, what is left out is named on stdout. Refused when the source
// is not a folder or holds a link, another kind of file or a name Windows does not allow;
// WriteFailed when it cannot be read.
BuildResult CollectFiles(const BuildRequest& request, std::vector<SourceFile>& files,
                         std::string& error);

// Opens a listed file to read it: never through a link, and only while it is the very file
// that was listed, of the size it had. False with the reason in `error`.
bool OpenListed(const SourceFile& file, package::CFileDX& in, std::string& error);

// Refuses a set of files the format or the updater cannot hold, and sets each storedName.
bool CheckFiles(const BuildRequest& request, std::vector<SourceFile>& files, std::string& error);

}  // namespace upkg
