// A small update: the records an earlier release left in the installation's hash list,
// and the files of the new release that differ from them.
#pragma once

#include <string>
#include <vector>

#include "package/hash_list.h"
#include "tools/upkg/build.h"
#include "tools/upkg/source_files.h"

// The records that `path`, an earlier update program or an installation's zol.hvl, leaves
// in the installation's list. Refused when it is neither; WriteFailed when it cannot be
// read or its hash list is damaged.
BuildResult LoadBaseRecords(const std::string& path, std::vector<HashListEntry>& records,
                            std::string& error);

// Folds every file's checksum and leaves out those whose path has a record in `base` with
// that checksum, counting them in `unchanged` (and naming them with request.verbose).
// Refused ("nothing to update") when no file is left; WriteFailed when one cannot be read.
BuildResult LeaveOutUnchanged(const BuildRequest& request, const std::vector<HashListEntry>& base,
                              std::vector<SourceFile>& files, size_t& unchanged,
                              std::string& error);
