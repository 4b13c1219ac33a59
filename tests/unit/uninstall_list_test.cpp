#include "package/uninstall_list.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures.h"

using namespace package;

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
    const Bytes hidden = ToBytes(std::string("a\n\0more\n", 8)), old = ToBytes("Old\r\n");
    const struct {
        const char* name;
        Tree before;
        std::vector<std::u16string> names;
        Bytes after;  // the list written; none: refused, the folder as it was
    } rows[] = {
        {"names added once, $ lines last",
         {{"uninst.lst", ToBytes("$Setup\r\nGame.exe\r\nARCHIVE\\DATA01000.ARC\r\n")}},
         {u"Archive\\data01000.arc", u"", u"Archive\\data02000.arc", u"$name",
          u"archive\\DATA02000.arc", u"データ.arc"},
         WrittenList({"game.exe", "archive\\data01000.arc", "archive\\data02000.arc", "$name",
                      "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.arc", "$setup"})},
        {"empty, nothing to add", {{"uninst.lst", {}}}, {}, Bytes{0}},
        {"its own form reads back the same",
         {{"uninst.lst", WrittenList({"a.arc", "b.arc"})}},
         {u"A.ARC"},
         WrittenList({"a.arc", "b.arc"})},
        {"trailing zeros",
         {{"uninst.lst", ToBytes(std::string("a\n\0\0", 4))}},
         {u"b"},
         WrittenList({"a", "b"})},
        {"a file left at the temporary name goes",
         {{"uninst.lst", old}, {"uninst.lst.tmp (read-only)", hidden}},
         {u"b"},
         WrittenList({"old", "b"})},
        {"bytes behind a zero", {{"uninst.lst", hidden}}, {u"b"}, {}},
        {"read-only", {{"uninst.lst (read-only)", old}}, {u"new.arc"}, {}},
        {"missing: not created", {}, {u"a.arc"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder folder;
        PutFiles(folder.path(), FileList(row.before.begin(), row.before.end()));
        const bool ok = UpdateUninstallList(folder.path().u16string().c_str(), row.names);
        EXPECT_EQ(ok, !row.after.empty());
        EXPECT_EQ(Snapshot(folder.path()), (ok ? Tree{{"uninst.lst", row.after}} : row.before));
    }
}

}  // namespace
