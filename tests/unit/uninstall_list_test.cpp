#include "package/uninstall_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "fixtures.h"

namespace fs = std::filesystem;

namespace {

// The written form of `lines`: each followed by LF, then one 0 byte.
Bytes Written(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return Bytes(text.begin(), text.end() + 1);
}

// Parses `text` and returns the written form, as a rewrite without new names would.
Bytes Rewritten(const std::string& text) {
    UninstallList lists;
    ParseUninstallList(text.c_str(), lists);
    std::string written = FormatUninstallList(lists);
    return Bytes(written.begin(), written.end());
}

TEST(UninstallListParseTest, LinesAreSplitNormalisedAndOrdered) {
    std::string local, utf8;  // 400 double-byte characters: 800 and 1200 bytes
    for (int i = 0; i < 400; ++i) {
        local += "\x83\x41";
        utf8 += "\xE3\x82\xA2";
    }
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"Game.exe\r\n\r\n  \tData\\A.arc\r\nlast line  \r\n \t ",
         {"game.exe", "data\\a.arc", "last line  "}},
        {"a\rb\nc\n\r\n\rd", {"a", "b", "c", "d"}},
        {"\r\nfirst\n \t \nsecond", {"first", "second"}},
        {"", {}},
        // Repeats once, at their first place; $ lines last.
        {"b.arc\nA.ARC\nB.ARC\na.arc\n$X\n  $y\n$x\nc", {"b.arc", "a.arc", "c", "$x", "$y"}},
        // Code page 932 comes out in UTF-8; a trail byte equal to a letter is not folded.
        {"\x83\x66\x81\x5B\x83\x5E\\ABC.arc\n\x83\x5C"
         "A",
         {"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\\abc.arc",
          "\xE3\x82\xBD"
          "a"}},
        {"\xEF\xBB\xBF"
         "First\nsecond",
         {"\xEF\xBB\xBF"
          "first",
          "second"}},
        {std::string(2000, 'x') + "\n" + local, {std::string(2000, 'x'), utf8}},
    };
    for (const auto& [text, lines] : rows) EXPECT_EQ(Rewritten(text), Written(lines)) << text;
    // A lead byte right before a line end does not take the end with it.
    const Bytes broken = Rewritten("x\x83\rnext");
    EXPECT_EQ(std::count(broken.begin(), broken.end(), '\n'), 2);
    EXPECT_EQ(Bytes(broken.end() - 6, broken.end()), Written({"next"}));
}

class UninstallListFileTest : public ::testing::Test {
protected:
    bool Update(const std::vector<std::u16string>& names) {
        return UpdateUninstallList(folder_.path().u16string().c_str(), names);
    }
    void Store(const std::string& text) { WriteFile(path_, ToBytes(text)); }
    Bytes Stored() const { return ReadFile(path_); }
    bool TemporaryLeft() const { return fs::exists(fs::path(path_ + u".tmp")); }

    ScratchFolder folder_;
    std::u16string path_ = folder_.File("uninst.lst");
};

TEST_F(UninstallListFileTest, AddsInstallNamesThatAreNotListed) {
    Store("$Setup\r\nGame.exe\r\nARCHIVE\\DATA01000.ARC\r\n");
    ASSERT_TRUE(Update({u"Archive\\data01000.arc", u"", u"Archive\\data02000.arc", u"$name",
                        u"archive\\DATA02000.arc", u"データ.arc"}));
    EXPECT_EQ(Stored(), Written({"game.exe", "archive\\data01000.arc", "archive\\data02000.arc",
                                 "$name", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.arc", "$setup"}));
    EXPECT_FALSE(TemporaryLeft());
}

TEST_F(UninstallListFileTest, EmptyFileGetsTheNamesOrJustTheFinalZero) {
    Store("");
    ASSERT_TRUE(Update({}));
    EXPECT_EQ(Stored(), Bytes{0});
    ASSERT_TRUE(Update({u"a.arc", u"b.arc"}));
    EXPECT_EQ(Stored(), Written({"a.arc", "b.arc"}));
    // What the list itself wrote reads back the same.
    ASSERT_TRUE(Update({u"A.ARC"}));
    EXPECT_EQ(Stored(), Written({"a.arc", "b.arc"}));
}

TEST_F(UninstallListFileTest, TrailingZerosAreAcceptedButBytesBehindAZeroAreNotLost) {
    Store(std::string("a\n\0\0", 4));
    ASSERT_TRUE(Update({u"b"}));
    EXPECT_EQ(Stored(), Written({"a", "b"}));

    const std::string hidden("a\n\0more\n", 8);
    Store(hidden);
    EXPECT_FALSE(Update({u"b"}));
    EXPECT_EQ(Stored(), ToBytes(hidden));
    EXPECT_FALSE(TemporaryLeft());
}

TEST_F(UninstallListFileTest, MissingListIsNotCreated) {
    EXPECT_FALSE(Update({u"a.arc"}));
    EXPECT_TRUE(fs::is_empty(folder_.path()));
}

TEST_F(UninstallListFileTest, ReadOnlyListStaysAsItWas) {
    Store("Old\r\n");
    fs::permissions(fs::path(path_),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(Update({u"new.arc"}));
    EXPECT_EQ(Stored(), ToBytes("Old\r\n"));
    EXPECT_FALSE(TemporaryLeft());
}

}  // namespace
