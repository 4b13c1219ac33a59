#include "package/file.h"
#include "platform/win32.h"
#include "tools/upkg/file_system.h"

namespace fs = std::filesystem;

bool GetNodeKind(const fs::path& path, NodeKind& kind, std::string& error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            error = SystemErrorText();
            return false;
        }
        kind = NodeKind::Missing;
        return true;
    }
    kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? NodeKind::Link
           : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? NodeKind::Folder
                                                       : NodeKind::File;
    return true;
}

void ArmInterruptCleanup(const HeldFolder&, const std::u16string&) {}

void DisarmInterruptCleanup() {}
