// Test fixtures built by code: scratch folders, files of given bytes, and update packages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& text);

// `size` bytes of a pattern that differs with `seed` and along the data.
Bytes Pattern(size_t size, uint8_t seed);

// `size` bytes the packer takes as a stub: "MZ", and at 0x3C the offset of "PE\0\0".
Bytes WindowsProgram(size_t size);

// The content checksum of `bytes`, its 8 bytes as one little-endian value.
uint64_t ChecksumOf(const Bytes& bytes);

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // A path below the folder, as UTF-16 for the file handle.
    std::u16string File(const std::string& name) const;

private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
// Caps the size of the files this process writes, so that a write fails midway; 0 lifts the
// cap. False on Windows, which has no such cap, for any cap but 0.
bool CapFileSize(uint64_t cap);
// Removes a file or folder and everything in it, read-only files included.
void RemoveTree(const std::filesystem::path& path);
Bytes ReadFile(const std::filesystem::path& path);

// Every file and folder below a root by relative path with "/" between components (a
// folder's ends in "/", a read-only file's in " (read-only)"), with its bytes.
using Tree = std::map<std::string, Bytes>;
Tree Snapshot(const std::filesystem::path& root);

// Writes each file (relative path with "/", bytes) below `folder`, making its folders; a
// path ending in " (read-only)" names a file to make read-only, as Snapshot shows it.
using FileList = std::vector<std::pair<std::string, Bytes>>;
void PutFiles(const std::filesystem::path& folder, const FileList& files);

// An uninstall list as the updater writes it: each line followed by LF, then one 0 byte.
Bytes WrittenList(const std::vector<std::string>& lines);

struct FixtureEntry {
    std::string name;  // stored bytes of the name, any encoding
    Bytes data;
};

enum class FixtureFormat { Arc20, PackFile };

// An archive: header, index and the entries' data back to back in index order.
Bytes MakeArchive(FixtureFormat format, const std::vector<FixtureEntry>& entries);

// A program file: an image up to the package offset, the 1024-byte header holding `title`
// (stored bytes), then `archive`.
Bytes MakeProgramFile(const std::string& title, const Bytes& archive);

// Runs upkg with `arguments`, what it prints caught in `out` and `err`; its exit code.
int RunUpkgCaptured(const std::vector<std::string>& arguments, std::string& out, std::string& err);

// Writes `files` below an emptied `source` and builds them into the update program `output`
// with the packer, as a publisher would; the test fails when the packer refuses.
void BuildProgram(const std::filesystem::path& stub, const std::filesystem::path& source,
                  const FileList& files, const std::filesystem::path& output,
                  const std::string& title = "Test update");

struct StoredRecord {
    std::string path;  // stored bytes
    uint64_t value;
};

// A hash list file: header with `magic` (8 bytes), `reserved` and `count` (the number of
// records unless given), then the records.
Bytes MakeHashList(const char* magic, uint32_t reserved, const std::vector<StoredRecord>& records,
                   uint32_t count = UINT32_MAX);
