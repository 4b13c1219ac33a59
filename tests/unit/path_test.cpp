#include "text/path.h"

#include <gtest/gtest.h>

#include <string>

#include "text/encoding.h"

using namespace text;

namespace {

// The four parts joined by '|'. Every output starts dirty, so an output left unwritten shows.
std::string Split(const std::string& path) {
    char drive[PathBufferLength] = "?", folder[PathBufferLength] = "?";
    char name[PathBufferLength] = "?", extension[PathBufferLength] = "?";
    SplitPathUtf8(drive, folder, name, extension, path.c_str());
    return std::string(drive) + '|' + folder + '|' + name + '|' + extension;
}

TEST(SplitPath, SplitsDriveFolderNameAndExtension) {
    const std::string fits(255, 'x'), over(256, 'x');
    std::string hiragana932, hiraganaUtf8;  // 255 characters: 765 bytes of UTF-8
    for (int i = 0; i < 255; ++i) {
        hiragana932 += "\x82\xA0";
        hiraganaUtf8 += "\xE3\x81\x82";
    }
    const std::pair<std::string, std::string> rows[] = {
        {"data\\sub\\file.name.arc", "|data\\sub\\|file.name|.arc"},
        {"C:file", "C:||file|"},
        {".hvl", "|||.hvl"},
        {"dir.x\\file", "|dir.x\\|file|"},
        {"C:\\game/data\\a.b", "C:|\\game/data\\|a|.b"},
        {"file.", "||file|."},
        {"ab:c", "||ab:c|"},
        {"", "|||"},
        // In code page 932 the second byte of 表 (95 5C) and ソ (83 5C) is a backslash.
        {"\x95\x5C\\\x83\x5C.txt", "|\xE8\xA1\xA8\\|\xE3\x82\xBD|.txt"},
        // Each part has its limit; one past it empties every part.
        {"C:d\\" + fits + ".e", "C:|d\\|" + fits + "|.e"},
        {"C:d\\" + over + ".e", "|||"},
        {over.substr(1) + "\\n.e", "|||"},
        {"n." + over.substr(1), "|||"},
        {hiragana932 + ".x", "||" + hiraganaUtf8 + "|.x"},
    };
    for (const auto& [path, parts] : rows) EXPECT_EQ(Split(path), parts) << path;
}

}  // namespace
