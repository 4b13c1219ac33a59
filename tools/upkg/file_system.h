// What the packer asks of the file system beyond the file handle: what stands at a path
// without following a link, a move that never replaces, and the removal of a temporary
// file when the process is interrupted.
#pragma once

#include <filesystem>
#include <string>

enum class NodeKind { Missing, File, Folder, Link, Other };

// What stands at `path`, a link seen as a link (on Windows any reparse point, junctions
// included). False, with the system's reason in `error`, when the path cannot be examined.
bool GetNodeKind(const std::filesystem::path& path, NodeKind& kind, std::string& error);

// Moves `source` to `target` only while nothing stands at `target`. False when the move
// fails; SystemErrorText() says why.
bool MoveFileNew(const std::filesystem::path& source, const std::filesystem::path& target);

// Until DisarmInterruptCleanup, SIGINT or SIGTERM removes the file at `path` before the
// process ends as the signal asks; one path at a time. Windows ends a program at Ctrl-C
// while the file is open and not shared, so there the temporary file stays; its final
// name is never touched because only a complete file is moved there.
void ArmInterruptCleanup(const std::filesystem::path& path);
void DisarmInterruptCleanup();
