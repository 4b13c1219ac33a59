#include "package/uninstall_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "fixtures.h"

namespace fs = std::filesystem;

namespace {

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
        {"\x83\x66\x81\x5B\x83\x5E\\ABC.arc\n\x83\x41"
         "A",
         {"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\\abc.arc",
          "\xE3\x82\xA2"
          "a"}},
        {"\xEF\xBB\xBF"
         "First\nsecond",
         {"\xEF\xBB\xBF"
          "first",
          "second"}},
        {std::string(2000, 'x') + "\n" + local, {std::string(2000, 'x'), utf8}},
    };
    for (const auto& [text, lines] : rows) EXPECT_EQ(Rewritten(text), WrittenList(lines)) << text;
    // A lead byte right before a line end does not take the end with it.
    const Bytes broken = Rewritten("x\x83\rnext");
    EXPECT_EQ(std::count(broken.begin(), broken.end(), '\n'), 2);
    EXPECT_EQ(Bytes(broken.end() - 6, broken.end()), WrittenList({"next"}));
}

// Each update of a stored list: whether it succeeds and what is stored after. A list that
// cannot be rewritten whole stays byte for byte as it was, and no temporary file is left.
TEST(UninstallListFileTest, AddsUnlistedNamesOrLeavesTheListAsItWas) {
    const std::string hidden("a\n\0more\n", 8);
    const struct {
        const char* name;
        std::optional<std::string> stored;  // none: no list
        std::vector<std::u16string> names;
        bool ok;
        Bytes after;
        bool readOnly = false;
    } rows[] = {
        {"names added once, $ lines last",
         "$Setup\r\nGame.exe\r\nARCHIVE\\DATA01000.ARC\r\n",
         {u"Archive\\data01000.arc", u"", u"Archive\\data02000.arc", u"$name",
          u"archive\\DATA02000.arc", u"データ.arc"},
         true,
         WrittenList({"game.exe", "archive\\data01000.arc", "archive\\data02000.arc", "$name",
                      "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.arc", "$setup"})},
        {"empty, nothing to add", "", {}, true, Bytes{0}},
        {"its own form reads back the same",
         "a.arc\nb.arc\n",
         {u"A.ARC"},
         true,
         WrittenList({"a.arc", "b.arc"})},
        {"trailing zeros", std::string("a\n\0\0", 4), {u"b"}, true, WrittenList({"a", "b"})},
        {"bytes behind a zero", hidden, {u"b"}, false, ToBytes(hidden)},
        {"read-only", "Old\r\n", {u"new.arc"}, false, ToBytes("Old\r\n"), true},
        {"missing: not created", std::nullopt, {u"a.arc"}, false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder folder;
        const std::u16string path = folder.File("uninst.lst");
        if (row.stored) WriteFile(path, ToBytes(*row.stored));
        if (row.readOnly)
            fs::permissions(
                fs::path(path),
                fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                fs::perm_options::remove);
        EXPECT_EQ(UpdateUninstallList(folder.path().u16string().c_str(), row.names), row.ok);
        Tree expected;
        if (row.stored)
            expected[row.readOnly ? "uninst.lst (read-only)" : "uninst.lst"] = row.after;
        EXPECT_EQ(Snapshot(folder.path()), expected);
    }
}

}  // namespace
