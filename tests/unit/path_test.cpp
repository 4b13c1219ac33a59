#include "text/path.h"

#include <gtest/gtest.h>

#include <string>

#include "text/encoding.h"

namespace {

struct Parts {
    std::string drive, folder, name, extension;
};

bool operator==(const Parts& a, const Parts& b) {
    return a.drive == b.drive && a.folder == b.folder && a.name == b.name &&
           a.extension == b.extension;
}

std::ostream& operator<<(std::ostream& out, const Parts& parts) {
    return out << '[' << parts.drive << '|' << parts.folder << '|' << parts.name << '|'
               << parts.extension << ']';
}

// Every output starts dirty, so an output left unwritten shows.
Parts Split(const std::string& path) {
    char drive[PathBufferLength] = "?", folder[PathBufferLength] = "?";
    char name[PathBufferLength] = "?", extension[PathBufferLength] = "?";
    SplitPathUtf8(drive, folder, name, extension, path.c_str());
    return {drive, folder, name, extension};
}

TEST(SplitPathUtf8, SplitsDriveFolderNameExtension) {
    EXPECT_EQ(Split("data\\sub\\file.name.arc"), (Parts{"", "data\\sub\\", "file.name", ".arc"}));
    EXPECT_EQ(Split("C:file"), (Parts{"C:", "", "file", ""}));
    EXPECT_EQ(Split(".hvl"), (Parts{"", "", "", ".hvl"}));
    EXPECT_EQ(Split("dir.x\\file"), (Parts{"", "dir.x\\", "file", ""}));
    EXPECT_EQ(Split("C:\\game/data\\a.b"), (Parts{"C:", "\\game/data\\", "a", ".b"}));
    EXPECT_EQ(Split("dir/"), (Parts{"", "dir/", "", ""}));
    EXPECT_EQ(Split("file."), (Parts{"", "", "file", "."}));
    EXPECT_EQ(Split("C:"), (Parts{"C:", "", "", ""}));
    EXPECT_EQ(Split("a"), (Parts{"", "", "a", ""}));
    EXPECT_EQ(Split("ab:c"), (Parts{"", "", "ab:c", ""}));
    EXPECT_EQ(Split(""), (Parts{"", "", "", ""}));
}

TEST(SplitPathUtf8, TrailByteIsNoSeparator) {
    // In code page 932 the second byte of 表 (95 5C) and ソ (83 5C) is a backslash.
    EXPECT_EQ(Split("\x95\x5C\\\x83\x5C.txt"),
              (Parts{"", "\xE8\xA1\xA8\\", "\xE3\x82\xBD", ".txt"}));
    EXPECT_EQ(Split("\xE8\xA1\xA8\\a.b"), (Parts{"", "\xE8\xA1\xA8\\", "a", ".b"}));
}

TEST(SplitPathUtf8, OmittedPartsAreNeitherFilledNorLimited) {
    char folder[PathBufferLength] = "?", extension[PathBufferLength] = "?";
    const std::string path = "dir\\" + std::string(400, 'n') + ".ext";
    SplitPathUtf8(nullptr, folder, nullptr, extension, path.c_str());
    EXPECT_STREQ(folder, "dir\\");
    EXPECT_STREQ(extension, ".ext");
}

TEST(SplitPathUtf8, PartLimitsAreAllOrNothing) {
    const std::string fits(255, 'x');
    const std::string over(256, 'x');
    EXPECT_EQ(Split(fits.substr(1) + "\\n.e").folder, fits.substr(1) + "\\");
    EXPECT_EQ(Split(over.substr(1) + "\\n.e"), (Parts{"", "", "", ""}));
    EXPECT_EQ(Split("C:d\\" + fits + ".e").name, fits);
    EXPECT_EQ(Split("C:d\\" + over + ".e"), (Parts{"", "", "", ""}));
    EXPECT_EQ(Split("n." + fits.substr(1)).extension, "." + fits.substr(1));
    EXPECT_EQ(Split("n." + over.substr(1)), (Parts{"", "", "", ""}));
}

TEST(SplitPathUtf8, LongestPartsFitUtf8Buffers) {
    // 255 hiragana from code page 932 become 765 bytes of UTF-8.
    std::string name;
    std::string utf8;
    for (int i = 0; i < 255; ++i) {
        name += "\x82\xA0";
        utf8 += "\xE3\x81\x82";
    }
    EXPECT_EQ(Split(name + ".x"), (Parts{"", "", utf8, ".x"}));
}

TEST(SplitPathWide, PathBeyondBufferEmptiesParts) {
    char16_t drive[DriveLimit] = u"?";
    const std::string fits = "C:" + std::string(PathBufferLength - 3, 'x');
    SplitPathWide(fits.c_str(), drive, nullptr, nullptr, nullptr);
    EXPECT_EQ(std::u16string(drive), u"C:");

    const std::string tooLong = fits + "x";
    SplitPathWide(tooLong.c_str(), drive, nullptr, nullptr, nullptr);
    EXPECT_EQ(drive[0], 0);
}

TEST(SplitPathWide, WritesUtf16Parts) {
    char16_t folder[FolderLimit] = u"?", name[NameLimit] = u"?", extension[ExtensionLimit];
    SplitPathWide("\xE3\x81\x82/\xF0\x9F\x98\x80.txt", nullptr, folder, name, extension);
    EXPECT_EQ(std::u16string(folder), u"\u3042/");
    EXPECT_EQ(std::u16string(name), u"\U0001F600");
    EXPECT_EQ(std::u16string(extension), u".txt");
}

}  // namespace
