#include "package/safe_write.h"

#include <string>

#include "package/file.h"

bool WriteFileSafely(const char16_t* path, std::initializer_list<ByteRange> pieces) {
    const std::u16string temporary = std::u16string(path) + u".tmp";
    // Whatever stands at the temporary name goes first, a link as a link, so that the new
    // bytes never go through something planted there.
    CFileDX file;
    if (!RemoveAt(temporary.c_str()) || !file.OpenForWrite(temporary.c_str(), CreateNew))
        return false;
    bool written = true;
    for (const ByteRange& piece : pieces) {
        if (piece.length != 0 && file.Write(piece.data, piece.length) != piece.length) {
            written = false;
            break;
        }
    }
    // On the disk before the rename, so that a power cut cannot leave an empty file behind.
    written = written && file.Flush();
    file.Close();
    if (written && MoveFileOver(temporary.c_str(), path)) return true;
    RemoveAt(temporary.c_str());
    return false;
}
