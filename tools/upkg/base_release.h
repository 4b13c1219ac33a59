// A small update: the records an earlier release left in the installation's hash list,
// and the files of the new release that differ from them.
#pragma once

#include <string>
#include <vector>

#include "package/hash_list.h"
#include "tools/upkg/build.h"
#include "tools/upkg/source_files.h"

namespace upkg {

struct BaseRelease {
    std::vector<package::HashListEntry> records;  // what it leaves in the installation's list
    bool v1List = false;  // an installation's list of the first version: paths of at most 55 bytes
};

// Reads `path`, an earlier update program or an installation's zol.hvl. Refused when it is
// neither; WriteFailed when it cannot be read or its hash list is damaged.
BuildResult LoadBaseRelease(const std::string& path, BaseRelease& base, std::string& error);

// Folds every file's checksum and leaves out those whose path has a record in `base` with
// that checksum. Counts in `summary` (and names with request.verbose) what a small update
// cannot do: files recorded in `base` and no longer in the source stay installed, and with
// a v1 list the updater drops the record of a path over 55 bytes. Refused ("nothing to
// update") when no file is left; WriteFailed when one cannot be read.
BuildResult LeaveOutUnchanged(const BuildRequest& request, const BaseRelease& base,
                              std::vector<SourceFile>& files, BuildSummary& summary,
                              std::string& error);

}  // namespace upkg
