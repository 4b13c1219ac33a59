#include "package/safe_write.h"

#include <string>

#include "package/file.h"

bool WriteFileSafely(const char16_t* path, std::initializer_list<ByteRange> pieces) {
    const std::u16string temporary = std::u16string(path) + u".tmp";
    CFileDX file;
    if (!file.OpenForWrite(temporary.c_str(), CreateOrTruncate)) return false;
    bool written = true;
    for (const ByteRange& piece : pieces) {
        if (piece.length != 0 && file.Write(piece.data, piece.length) != piece.length) {
            written = false;
            break;
        }
    }
    file.Close();
    if (written && MoveFileOver(temporary.c_str(), path)) return true;
    DeleteFileAt(temporary.c_str());
    return false;
}
