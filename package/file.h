// CFileDX: the owner of one open file. Every file the program reads or writes goes
// through it. Results are plain values: a count of bytes, or true/false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "package/held_folder.h"

namespace package {

// Modes of OpenForWrite.
constexpr uint32_t CreateOrTruncate = 0;  // an existing file is emptied, a missing one created
constexpr uint32_t CreateNew = 1;         // fails when a file of that name exists

// Windows error codes recorded by a failed open, read, write or seek (the POSIX build maps
// errno to them).
constexpr uint32_t ErrorFileNotFound = 2;
constexpr uint32_t ErrorPathNotFound = 3;
constexpr uint32_t ErrorAccessDenied = 5;
constexpr uint32_t ErrorFileExists = 80;

// The volume, the file's number on it and its size when it was asked.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    uint64_t size = 0;
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && index == other.index && size == other.size;
    }
};

class CFileDX {
public:
    CFileDX() = default;
    virtual ~CFileDX();
    CFileDX(const CFileDX&) = delete;
    CFileDX& operator=(const CFileDX&) = delete;

    // Opens an existing file for sequential reading; others may read it meanwhile. False
    // when a file is already open here (it stays open) or the open fails (recording why).
    // With RefuseLink, a link standing at `path` is refused, never followed.
    bool OpenForRead(const char16_t* path, HeldFolder::Links links = HeldFolder::Links::Follow);

    // Opens a file for exclusive writing, created or truncated as `mode` says. False when
    // a file is already open here or the open fails (a read-only file, say; recording why).
    bool OpenForWrite(const char16_t* path, uint32_t mode);
    // The same for the file `name` (one name, no folders) inside `folder`, never through a
    // link standing there.
    bool OpenForWriteIn(const HeldFolder& folder, const char16_t* name, uint32_t mode);

    // Low 32 bits of the file's size; 0xFFFFFFFF when it cannot be had.
    uint32_t GetSize();

    // The whole 64-bit size and the current position, for bounds checks before reading.
    bool GetFullSize(uint64_t* size);
    bool GetPosition(uint64_t* position);

    // Bytes actually read or written; 0 on failure (recording why) or at the end of the file.
    uint32_t Read(void* buffer, uint32_t length);
    uint32_t Write(const void* buffer, uint32_t length);

    // What tells the open file from every other: equal for two opens of one file.
    bool GetIdentity(FileIdentity* identity);

    // Makes what was written durable: on the disk, not only in the system's cache.
    bool Flush();

    // Sets room aside on the disk for a file about to be written up to `size` bytes, which
    // makes the writes cheaper. Only a hint: the file's size stays as it is, and false (the
    // system cannot) changes nothing.
    bool Reserve(uint64_t size);
    // True from a Reserve that succeeded until the file is closed.
    bool HasReservedRoom() const { return reserved_; }

    // Moves to an absolute position from the start of the file.
    bool Seek(int64_t position);

    void Close();

    bool IsOpen() const { return handle_ != InvalidHandle; }
    // The Windows error code of the last failure recorded here; 0 when none was.
    uint32_t LastError() const { return lastError_; }
    // The system's own words for that failure (FormatMessage, strerror), in UTF-8.
    std::string LastErrorText() const;

private:
    void RecordError();
    // INVALID_HANDLE_VALUE on Windows and -1 as a descriptor elsewhere: the same bits.
    static constexpr intptr_t InvalidHandle = -1;

    intptr_t handle_ = InvalidHandle;
    uint32_t lastError_ = 0;
    uint32_t systemError_ = 0;  // the platform's own code: GetLastError() or errno
    bool reserved_ = false;     // Reserve succeeded on the open file
    std::u16string path_;       // given to the last open, for FlushHook
};

// Called with the file's path after every Flush that succeeded; null in the programs. Tests
// see through it which files were made durable, and in what order.
extern void (*FlushHook)(const char16_t* path);

// Writes `length` bytes to `out` in pieces of at most 64 KiB, or 128 KiB into room set aside
// by Reserve. Linux backs a large write with large page-cache blocks, which are slow to come by
// unless the blocks on the disk were allocated ahead: on this kind of virtual machine a
// gigabyte took about 1 s in writes of 1 MiB, 0.45 s in 256 KiB and 0.28 s in 64 KiB (natively
// and under Wine alike), and into reserved room 0.21 s in 64 KiB and 0.17 s in 128 KiB.
// False when any piece falls short.
bool WriteInPieces(CFileDX& out, const void* bytes, uint32_t length);

// The system's words for the failure of the last call of this thread that set one
// (GetLastError() or errno), in UTF-8: the reason the functions below returned false.
std::string SystemErrorText();

// Moves `source` over `target` in one step, so that a reader sees the old file or the new
// one and never a partial file. False, with both files as they were, when the target is
// read-only or the move fails.
bool MoveFileOver(const char16_t* source, const char16_t* target);

// True when something (a file or a folder) exists at `path`.
bool PathExists(const char16_t* path);

enum class NodeKind { Missing, File, Folder, Link, Other };

// What stands at `path`, a link seen as a link (on Windows any reparse point, junctions
// included). False when the path cannot be examined; SystemErrorText() says why.
bool GetNodeKind(const char16_t* path, NodeKind& kind);

// Path of the running program into `path` of `capacity` units; false when it does not fit.
bool GetProgramPath(char16_t* path, size_t capacity);

// The number the system gives the running process.
uint32_t CurrentProcessId();

// Attributes as Windows reports them (the POSIX build derives them from lstat).
constexpr uint32_t NoFileAttributes = 0xFFFFFFFF;  // nothing stands at the path
constexpr uint32_t AttributeReadOnly = 0x1;
constexpr uint32_t AttributeDirectory = 0x10;
constexpr uint32_t AttributeNormal = 0x80;
constexpr uint32_t AttributeReparsePoint = 0x400;  // a link or junction

// The attributes of what stands at `path`: of a link itself, never of what it points to.
uint32_t GetAttributesAt(const char16_t* path);

// Sets the attributes of the file at `path`; false, changing nothing, when nothing, a folder
// or a link stands there.
bool SetAttributesAt(const char16_t* path, uint32_t attributes);

// Moves `source` to `target` durably, never replacing anything that stands at `target`.
bool MoveToNewName(const char16_t* source, const char16_t* target);

// Removes the file at `path` (read-only or not) or the link standing there, never what a
// link points to. True when nothing stands at `path` afterwards; false for a folder.
bool RemoveAt(const char16_t* path);

// Has the system delete the file at `path` when it next starts (Windows only; an
// administrator's right). False when it cannot be scheduled.
bool DeleteAtRestart(const char16_t* path);

// The bytes the caller may still write on the volume of `folder`.
bool GetAvailableBytes(const char16_t* folder, uint64_t* bytes);

// A path as the system gave it (a command-line argument, a name read from a folder), in the
// form the functions here take. On Windows that is its UTF-16 as given. Elsewhere a name is
// bytes: a byte that is not part of UTF-8 text travels as the lone surrogate U+DC80 + byte - 0x80,
// which the POSIX build turns back into the same byte, so every name reaches the system
// unchanged.
std::u16string FromSystemPath(const std::filesystem::path& path);

// Holds the folder that `path` names a file in (links on the way followed, as an open by path
// follows them) and gives the file's own name in `name`; false when that folder cannot be held.
bool HoldParent(const char16_t* path, HeldFolder& folder, std::u16string& name);

// `relative`, a path inside an installation or package with `\` between folders, joined to
// `folder` in the system's form. False when the result does not fit in `capacity` units.
bool JoinPath(char16_t* out, size_t capacity, const char16_t* folder, const char16_t* relative);

}  // namespace package
