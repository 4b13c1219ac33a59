#include "package/hash_list.h"

#include <cstring>
#include <memory>
#include <new>

#include "package/file.h"
#include "package/safe_write.h"
#include "text/convert.h"
#include "text/encoding.h"
#include "text/format.h"
#include "text/path.h"

namespace package {

namespace {

// Record size for a magic, 0 for neither version.
uint32_t RecordSize(const char* magic) {
    if (std::memcmp(magic, HashListMagicV2, HashListMagicSize) == 0) return HashRecordSizeV2;
    if (std::memcmp(magic, HashListMagicV1, HashListMagicSize) == 0) return HashRecordSizeV1;
    return 0;
}

constexpr uint32_t ValueSize = sizeof(uint64_t);

}  // namespace

bool ReadHashList(HashListHeader& header, std::vector<HashListEntry>& entries, CFileDX& file) {
    HashListHeader read;
    if (file.Read(&read, sizeof read) != sizeof read) return false;
    const uint32_t recordSize = RecordSize(read.magic);
    if (recordSize == 0) return false;

    // Refuse a table that cannot be in the file before allocating room for it.
    uint64_t size, position;
    if (!file.GetFullSize(&size) || !file.GetPosition(&position) || position > size) return false;
    if (read.count > (size - position) / recordSize) return false;
    const uint64_t tableLength = uint64_t{read.count} * recordSize;
    if (tableLength > 0xFFFFFFFF) return false;

    const uint32_t length = static_cast<uint32_t>(tableLength);
    std::unique_ptr<char[]> table(new (std::nothrow) char[length]());
    if (!table) return false;
    if (length != 0 && file.Read(table.get(), length) != length) return false;

    const uint32_t pathSize = recordSize - ValueSize;
    std::vector<HashListEntry> records(read.count);
    for (uint32_t i = 0; i < read.count; ++i) {
        const char* record = table.get() + uint64_t{i} * recordSize;
        if (std::memchr(record, 0, pathSize) == nullptr) return false;
        std::optional<std::string> path = text::ConvertText(record, text::ConversionMode::ToUtf8);
        if (!path) return false;
        records[i].path = std::move(*path);
        std::memcpy(&records[i].value, record + pathSize, ValueSize);
    }

    header = read;
    entries = std::move(records);
    return true;
}

bool LoadHashList(HashListHeader& header, std::vector<HashListEntry>& entries,
                  const char16_t* path) {
    CFileDX file;
    if (!file.OpenForRead(path)) return false;
    return ReadHashList(header, entries, file);
}

bool EncodeHashList(const HashListHeader& header, const std::vector<HashListEntry>& entries,
                    std::vector<char>& bytes) {
    const uint32_t recordSize = RecordSize(header.magic);
    if (recordSize == 0 || header.count > entries.size()) return false;
    const uint32_t pathSize = recordSize - ValueSize;

    std::vector<char> out(sizeof(HashListHeader) + uint64_t{header.count} * recordSize, 0);
    uint32_t written = 0;
    for (uint32_t i = 0; i < header.count; ++i) {
        char* record = out.data() + sizeof(HashListHeader) + uint64_t{written} * recordSize;
        // A path cut to its field would name another file; such a record is left out.
        if (!text::ConvertText(record, pathSize, entries[i].path.c_str(),
                               text::ConversionMode::ToCodePage932))
            continue;
        std::memcpy(record + pathSize, &entries[i].value, ValueSize);
        ++written;
    }
    HashListHeader writtenHeader = header;
    writtenHeader.count = written;
    std::memcpy(out.data(), &writtenHeader, sizeof writtenHeader);
    out.resize(sizeof(HashListHeader) + uint64_t{written} * recordSize);
    bytes = std::move(out);
    return true;
}

bool WriteHashList(const HashListHeader& header, const std::vector<HashListEntry>& entries,
                   const char16_t* path) {
    std::vector<char> bytes;
    if (!EncodeHashList(header, entries, bytes) || bytes.size() > 0xFFFFFFFF) return false;
    return WriteFileSafely(path, bytes.data(), bytes.size());
}

bool HashPathsEqual(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           text::CompareText(text::Lowercased(a).c_str(), text::Lowercased(b).c_str()) == 0;
}

const HashListEntry* FindRecordForEntry(const std::vector<HashListEntry>& list,
                                        const std::string& entryName) {
    const std::string wanted = text::Lowercased(entryName);
    for (const HashListEntry& record : list) {
        char name[text::PathBufferLength], extension[text::PathBufferLength],
            last[text::PathBufferLength];
        text::SplitPathUtf8(nullptr, nullptr, name, extension, record.path.c_str());
        if (text::FormatNarrow(last, "%s%s", {name, extension}) < 0) continue;
        if (text::CompareText(text::LowercaseText(last), wanted.c_str()) == 0) return &record;
    }
    return nullptr;
}

void MergeHashLists(std::vector<HashListEntry>& installed,
                    const std::vector<HashListEntry>& update) {
    const size_t loaded = installed.size();
    for (const HashListEntry& record : update) {
        size_t i = 0;
        while (i < loaded && !HashPathsEqual(installed[i].path, record.path)) ++i;
        if (i < loaded)
            installed[i].value = record.value;
        else
            installed.push_back(record);
    }
}

void PruneHashList(std::vector<HashListEntry>& installed, const char16_t* folder) {
    std::vector<HashListEntry> kept;
    for (HashListEntry& record : installed) {
        char16_t relative[text::PathBufferLength], full[text::PathBufferLength];
        bool formed = text::NarrowToWide(relative, text::PathBufferLength, record.path.c_str()) &&
                      JoinPath(full, text::PathBufferLength, folder, relative);
        if (!formed || PathExists(full)) kept.push_back(std::move(record));
    }
    installed = std::move(kept);
}

void UpdateInstalledHashList(const char16_t* folder, const std::vector<HashListEntry>& update) {
    char16_t path[text::PathBufferLength];
    if (!JoinPath(path, text::PathBufferLength, folder, Utf16Name(HashListName).c_str())) return;

    HashListHeader header;
    std::vector<HashListEntry> installed;
    if (!LoadHashList(header, installed, path)) return;
    MergeHashLists(installed, update);
    header.count = static_cast<uint32_t>(installed.size());
    WriteHashList(header, installed, path);

    // Pruning starts from what was written, so it sees the list a later run would load.
    if (!LoadHashList(header, installed, path)) return;
    PruneHashList(installed, folder);
    header.count = static_cast<uint32_t>(installed.size());
    WriteHashList(header, installed, path);
}

}  // namespace package
