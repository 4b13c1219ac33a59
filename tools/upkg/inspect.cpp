#include "tools/upkg/inspect.h"

#include <cstring>
#include <filesystem>

#include "package/archive_format.h"
#include "package/update_package.h"
#include "text/convert.h"
#include "text/encoding.h"

bool OpenPackage(const std::string& path, CFileDX& file, Package& package, std::string& error) {
    const std::u16string widePath = std::filesystem::u8path(path).u16string();
    if (!file.OpenForRead(widePath.c_str())) {
        error = "cannot open \"" + path + "\"";
        return false;
    }
    char16_t title[TitleCapacity];
    uint64_t size = 0;
    if (!file.GetFullSize(&size) || size < ArchiveOffset ||
        !ReadPackageTitle(widePath.c_str(), title)) {
        error = "\"" + path + "\" holds no update package";
        return false;
    }
    ArchiveHeader header;
    std::vector<ArchiveEntry> entries;
    if (!file.Seek(ArchiveOffset) || !ReadArchiveIndex(header, entries, file)) {
        error = "the archive index of \"" + path + "\" cannot be read";
        return false;
    }

    Package read;
    read.title = WideToNarrow(title, ToUtf8).value_or("");
    read.format =
        std::memcmp(header.magic, Arc20Magic, ArchiveMagicSize) == 0 ? "ARC20" : "PackFile";

    // The updater takes the first entry named zol.hvl in any case as the hash list.
    HashListHeader listHeader;
    std::vector<HashListEntry> list;
    for (const ArchiveEntry& entry : entries) {
        std::string name = entry.name;
        LowercaseText(&name[0]);
        if (name != "zol.hvl") continue;
        read.hasHashList = true;
        read.hashListDamaged = !file.Seek(static_cast<int64_t>(ArchiveOffset + entry.offset)) ||
                               !ReadHashList(listHeader, list, file);
        break;
    }

    for (const ArchiveEntry& entry : entries) {
        PackageEntry out{entry.name, entry.offset, entry.size, entry.name, true, std::nullopt};
        if (const HashListEntry* record = FindRecordForEntry(list, entry.name)) {
            out.installPath = record->path;
            out.checksum = record->value;
        }
        std::string destination = out.installPath;
        LowercaseText(&destination[0]);
        out.installed = destination != "zol.hvl";
        read.entries.push_back(std::move(out));
    }
    package = std::move(read);
    return true;
}

std::string ChecksumHex(uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < 8; ++i) {
        const unsigned byte = (value >> (8 * i)) & 0xFF;
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}
