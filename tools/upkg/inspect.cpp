#include "tools/upkg/inspect.h"

#include <cstring>
#include <filesystem>

#include "package/update_package.h"
#include "text/convert.h"

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
    Package read;
    if (!ReadPackagePlan(file, read.plan)) {
        error = "the archive index of \"" + path + "\" cannot be read";
        return false;
    }
    read.title = WideToNarrow(title, ToUtf8).value_or("");
    read.format = std::memcmp(read.plan.header.magic, Arc20Magic, ArchiveMagicSize) == 0
                      ? "ARC20"
                      : "PackFile";
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
