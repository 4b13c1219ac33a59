#include "package/update_package.h"

#include <cstring>
#include <memory>
#include <new>

#include "package/file.h"
#include "text/convert.h"
#include "text/encoding.h"

namespace package {

bool ReadPackageTitle(char16_t* title) {
    char16_t path[text::PathBufferLength];
    if (!GetProgramPath(path, text::PathBufferLength)) return false;
    return ReadPackageTitle(path, title);
}

bool ReadPackageTitle(const char16_t* programPath, char16_t* title) {
    CFileDX file;
    if (!file.OpenForRead(programPath)) return false;
    // Only the low 32 bits count, like the install that follows; a file of exactly
    // PackageOffset bytes passes here and fails at the read.
    if (file.GetSize() < PackageOffset) return false;
    char header[PackageHeaderSize];
    if (!file.Seek(PackageOffset) || file.Read(header, sizeof header) != sizeof header)
        return false;
    if (std::memchr(header, 0, sizeof header) == nullptr) return false;
    return text::NarrowToWide(title, TitleCapacity, header);
}

namespace {

uint32_t LoadLE32(const char* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

}  // namespace

bool ReadArchiveIndex(ArchiveHeader& header, std::vector<ArchiveEntry>& entries, CFileDX& file) {
    ArchiveHeader read;
    if (file.Read(&read, sizeof read) != sizeof read) return false;

    const IndexLayout* layout = nullptr;
    if (std::memcmp(read.magic, Arc20Magic, ArchiveMagicSize) == 0)
        layout = &Arc20Layout;
    else if (std::memcmp(read.magic, PackFileMagic, ArchiveMagicSize) == 0)
        layout = &PackFileLayout;
    else
        return false;

    // Refuse an index that cannot be in the file before allocating room for it.
    uint64_t size, position;
    if (!file.GetFullSize(&size) || !file.GetPosition(&position) || position > size) return false;
    if (read.count > (size - position) / layout->entrySize) return false;
    uint64_t indexLength = uint64_t{read.count} * layout->entrySize;
    if (indexLength > 0xFFFFFFFF) return false;

    std::unique_ptr<char[]> index(new (std::nothrow) char[indexLength]());
    if (!index) return false;
    uint32_t length = static_cast<uint32_t>(indexLength);
    if (length != 0 && file.Read(index.get(), length) != length) return false;

    std::vector<ArchiveEntry> records(read.count);
    uint64_t dataArea = sizeof(ArchiveHeader) + indexLength;
    for (uint32_t i = 0; i < read.count; ++i) {
        const char* entry = index.get() + uint64_t{i} * layout->entrySize;
        if (std::memchr(entry, 0, layout->nameSize) == nullptr) return false;
        std::optional<std::string> name = text::ConvertText(entry, text::ConversionMode::ToUtf8);
        if (!name) return false;
        records[i].name = std::move(*name);
        records[i].offset = dataArea + LoadLE32(entry + layout->offsetField);
        records[i].size = LoadLE32(entry + layout->offsetField + 4);
    }

    header = read;
    entries = std::move(records);
    return true;
}

}  // namespace package
