#include "package/uninstall_list.h"

#include <algorithm>
#include <cstring>

#include "package/file.h"
#include "package/installation_names.h"
#include "package/safe_write.h"
#include "text/convert.h"
#include "text/encoding.h"

namespace package {

namespace {

std::string Normalised(std::string text) {
    // A line already in UTF-8 or ASCII is copied unchanged; code page 932 is converted.
    std::optional<std::string> utf8 = text::ConvertText(text.c_str(), text::ConversionMode::ToUtf8);
    if (utf8) text = std::move(*utf8);
    text::LowercaseText(&text[0]);
    return text;
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

}  // namespace

void UninstallList::Add(std::string text) {
    if (!seen.insert(text).second) return;
    (text[0] == '$' ? dollarLines : fileLines).push_back({std::move(text)});
}

void UninstallList::AddFileLine(std::string text) {
    if (seen.count(text) != 0) {
        // Listed already, unless only among the '$' lines.
        auto same = [&](const UninstallEntry& e) { return e.text == text; };
        if (std::any_of(fileLines.begin(), fileLines.end(), same)) return;
    }
    seen.insert(text);
    fileLines.push_back({std::move(text)});
}

void ParseUninstallList(const char* text, UninstallList& lists) {
    const char* at = text;
    while (*at != 0) {
        at += std::strspn(at, " \t");
        // A CR or LF byte is never part of a character in either encoding, so the line
        // ends at the first one; a blank line or a leading line end makes no entry.
        const size_t length = std::strcspn(at, "\r\n");
        if (length != 0) lists.Add(Normalised(std::string(at, length)));
        at += length;
        while (IsLineEnd(*at)) ++at;
    }
}

std::string FormatUninstallList(const UninstallList& lists) {
    std::string text;
    for (const auto* list : {&lists.fileLines, &lists.dollarLines}) {
        for (const UninstallEntry& entry : *list) {
            text += entry.text;
            text += '\n';
        }
    }
    text += '\0';
    return text;
}

bool WriteUninstallList(const char16_t* path, const UninstallList& lists) {
    const std::string text = FormatUninstallList(lists);
    return WriteFileSafely(path, text.data(), text.size());
}

bool UpdateUninstallList(const char16_t* folder, const std::vector<std::u16string>& installNames) {
    char16_t path[text::PathBufferLength];
    if (!JoinPath(path, text::PathBufferLength, folder, Utf16Name(UninstallListName).c_str()))
        return false;

    // A list built from part of the file would lose the rest when written back.
    std::string text;
    if (!ReadWholeFile(path, text, 0xFFFFFFFE)) return false;
    // The text ends at its first 0 byte; anything but more zeros behind it would be lost.
    const size_t end = std::strlen(text.c_str());
    if (!std::all_of(text.begin() + end, text.end(), [](char c) { return c == 0; })) return false;

    UninstallList lists;
    ParseUninstallList(text.c_str(), lists);
    text = std::string();

    for (const std::u16string& name : installNames) {
        if (name.empty()) continue;
        std::optional<std::string> utf8 =
            text::WideToNarrow(name.c_str(), text::ConversionMode::ToUtf8);
        if (!utf8) return false;
        text::LowercaseText(&(*utf8)[0]);
        lists.AddFileLine(std::move(*utf8));
    }
    return WriteUninstallList(path, lists);
}

}  // namespace package
