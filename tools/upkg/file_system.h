// What the packer asks of the file system beyond the file layer: what stands at a path
// without following a link, and the removal of a temporary file when the process is
// interrupted.
#pragma once

#include <filesystem>
#include <string>

#include "package/held_folder.h"

enum class NodeKind { Missing, File, Folder, Link, Other };

// What stands at `path`, a link seen as a link (on Windows any reparse point, junctions
// included). False, with the system's reason in `error`, when the path cannot be examined.
bool GetNodeKind(const std::filesystem::path& path, NodeKind& kind, std::string& error);

// Until DisarmInterruptCleanup, a signal that ends the process (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGPIPE) first removes the file `name` in `folder`, then ends the process by that
// signal, as tar does; one file at a time, and the folder must stay held meanwhile. A signal
// the caller set to be ignored stays ignored. Windows ends a program at Ctrl-C while the file
// is open and not shared, so there the temporary file stays; its final name is never touched
// because only a complete file is moved there.
void ArmInterruptCleanup(const HeldFolder& folder, const std::u16string& name);
void DisarmInterruptCleanup();
