#include "text/path.h"

#include "text/convert.h"
#include "text/encoding.h"

namespace text {

namespace {

struct Span {
    const char16_t* start;
    size_t length;
};

void Clear(char16_t* part) {
    if (part != nullptr) part[0] = 0;
}

bool Fits(const char16_t* part, const Span& span, size_t limit) {
    return part == nullptr || span.length + 1 <= limit;
}

void Store(char16_t* part, const Span& span) {
    if (part == nullptr) return;
    for (size_t i = 0; i < span.length; ++i) part[i] = span.start[i];
    part[span.length] = 0;
}

}  // namespace

void SplitPathWide(const char* path, char16_t* drive, char16_t* folder, char16_t* name,
                   char16_t* extension) {
    char16_t wide[PathBufferLength];
    if (!NarrowToWide(wide, PathBufferLength, path)) {
        Clear(drive);
        Clear(folder);
        Clear(name);
        Clear(extension);
        return;
    }
    size_t length = 0;
    while (wide[length] != 0) ++length;

    Span driveSpan = {wide, 0};
    if (length >= 2 && wide[1] == u':') driveSpan.length = 2;

    // Splitting on UTF-16 units means a code-page-932 trail byte equal to a backslash
    // is already part of its character and cannot be taken for a separator.
    const size_t folderStart = driveSpan.length;
    size_t nameStart = folderStart;
    for (size_t i = folderStart; i < length; ++i) {
        if (wide[i] == u'\\' || wide[i] == u'/') nameStart = i + 1;
    }
    size_t dot = length;
    for (size_t i = nameStart; i < length; ++i) {
        if (wide[i] == u'.') dot = i;
    }
    const Span folderSpan = {wide + folderStart, nameStart - folderStart};
    const Span nameSpan = {wide + nameStart, dot - nameStart};
    const Span extensionSpan = {wide + dot, length - dot};

    if (!Fits(drive, driveSpan, DriveLimit) || !Fits(folder, folderSpan, FolderLimit) ||
        !Fits(name, nameSpan, NameLimit) || !Fits(extension, extensionSpan, ExtensionLimit)) {
        Clear(drive);
        Clear(folder);
        Clear(name);
        Clear(extension);
        return;
    }
    Store(drive, driveSpan);
    Store(folder, folderSpan);
    Store(name, nameSpan);
    Store(extension, extensionSpan);
}

void SplitPathUtf8(char* drive, char* folder, char* name, char* extension, const char* path) {
    char16_t wideDrive[PathBufferLength];
    char16_t wideFolder[PathBufferLength];
    char16_t wideName[PathBufferLength];
    char16_t wideExtension[PathBufferLength];
    char* const parts[] = {drive, folder, name, extension};
    char16_t* const wideParts[] = {drive ? wideDrive : nullptr, folder ? wideFolder : nullptr,
                                   name ? wideName : nullptr, extension ? wideExtension : nullptr};
    SplitPathWide(path, wideParts[0], wideParts[1], wideParts[2], wideParts[3]);

    // Within the part limits this cannot fail (at most 766 bytes); should the converter
    // fail all the same, the parts stay consistent with the all-or-nothing rule above.
    for (size_t i = 0; i < 4; ++i) {
        if (parts[i] != nullptr &&
            !WideToNarrow(parts[i], PathBufferLength, wideParts[i], ConversionMode::ToUtf8)) {
            for (char* part : parts) {
                if (part != nullptr) part[0] = 0;
            }
            return;
        }
    }
}

}  // namespace text
