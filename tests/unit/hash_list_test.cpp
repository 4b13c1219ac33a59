#include "package/hash_list.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fixtures.h"
#include "package/file.h"

using namespace package;

namespace {

HashListHeader Header(const char* magic, uint32_t count, uint32_t reserved = 0) {
    HashListHeader header;
    std::memcpy(header.magic, magic, 8);
    header.reserved = reserved;
    header.count = count;
    return header;
}

// "データ" in code page 932 and in UTF-8; "ソ" ends in the byte of a backslash in 932.
const std::string Data932 = "\x83\x66\x81\x5B\x83\x5E";
const std::string DataUtf8 = "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF";
const std::string SoUtf8 = "\xE3\x82\xBD";

class HashListFileTest : public ::testing::Test {
protected:
    bool Load(const Bytes& bytes) {
        WriteFile(path_, bytes);
        return LoadHashList(header_, entries_, path_.c_str());
    }

    ScratchFolder folder_;
    std::u16string path_ = folder_.File("zol.hvl");
    HashListHeader header_;
    std::vector<HashListEntry> entries_;
};

// Paths are read as UTF-8 and written back in code page 932; one too long for its field is
// left out, never cut.
TEST_F(HashListFileTest, PathsAreWrittenBackInCodePage932OrLeftOut) {
    const std::string name932 = "Archive\\" + Data932 + ".arc", tooLong(248, 'd'),
                      longest(247, 'c');
    ASSERT_TRUE(Load(MakeHashList(HashListMagicV2, 0, {{name932, 1}, {DataUtf8 + ".arc", 2}})));
    EXPECT_EQ(entries_[1].path, DataUtf8 + ".arc");
    entries_.insert(entries_.begin(), {tooLong, 3});
    entries_.push_back({longest, 4});
    ASSERT_TRUE(WriteHashList(Header(HashListMagicV2, 4), entries_, path_.c_str()));
    EXPECT_EQ(ReadFile(path_), MakeHashList(HashListMagicV2, 0,
                                            {{name932, 1}, {Data932 + ".arc", 2}, {longest, 4}}));
    const std::string longest1(55, 'a'), tooLong1(56, 'b');
    ASSERT_TRUE(WriteHashList(Header(HashListMagicV1, 3, 9),
                              {{longest1, 1}, {tooLong1, 2}, {"x", 3}}, path_.c_str()));
    EXPECT_EQ(ReadFile(path_), MakeHashList(HashListMagicV1, 9, {{longest1, 1}, {"x", 3}}));
}

TEST_F(HashListFileTest, DamagedListsFail) {
    const Bytes valid = MakeHashList(HashListMagicV2, 0, {{"a", 1}, {"b", 2}});
    const std::pair<const char*, Bytes> cases[] = {
        {"empty file", {}},
        {"short header", Bytes(valid.begin(), valid.begin() + 15)},
        {"magic of neither version", MakeHashList("ZHV_V9__", 0, {{"a", 1}})},
        {"count 3 with two records", MakeHashList(HashListMagicV2, 0, {{"a", 1}, {"b", 2}}, 3)},
        {"count near the top", MakeHashList(HashListMagicV1, 0, {{"a", 1}}, 0xFFFFFFFE)},
        {"version 2 path fills its field",
         MakeHashList(HashListMagicV2, 0, {{std::string(248, 'p'), 1}})},
        {"version 1 path fills its field",
         MakeHashList(HashListMagicV1, 0, {{std::string(56, 'p'), 1}})},
    };
    for (const auto& [what, bytes] : cases) EXPECT_FALSE(Load(bytes)) << what;
    EXPECT_FALSE(LoadHashList(header_, entries_, folder_.File("missing.hvl").c_str()));
}

// A list that cannot be replaced, or whose new bytes fall short (natively: the file size
// capped below them), stays as it was, and no temporary file is left.
TEST_F(HashListFileTest, FailedWriteLeavesTheOldListAndNoTemporaryFile) {
    const Bytes old = MakeHashList(HashListMagicV2, 0, {{"a.arc", 1}});
    for (const auto& [name, cap] : {std::pair{"zol.hvl (read-only)", 0}, {"zol.hvl", 100}}) {
        RemoveTree(folder_.path());
        PutFiles(folder_.path(), {{name, old}});
        if (!CapFileSize(cap)) continue;
        EXPECT_FALSE(
            WriteHashList(Header(HashListMagicV2, 2), {{"b", 2}, {"c", 3}}, path_.c_str()));
        CapFileSize(0);
        EXPECT_EQ(Snapshot(folder_.path()), (Tree{{name, old}}));
    }
}

// By the last component, folding ASCII case only, the first match winning.
TEST(HashListRulesTest, LookupFindsFirstRecordByLastComponentFoldingAsciiCase) {
    const std::vector<HashListEntry> list{{"Archive\\data01000.arc", 1},
                                          {"Other\\DATA01000.ARC", 2},
                                          {"Archive/slash.arc", 3},
                                          {"Archive\\" + SoUtf8 + ".arc", 4},
                                          {"Archive\\" + DataUtf8 + ".arc", 5},
                                          {"noext", 6}};
    const std::pair<std::string, uint64_t> rows[] = {
        {"DATA01000.arc", 1}, {"slash.arc", 3}, {SoUtf8 + ".ARC", 4}, {DataUtf8 + ".arc", 5},
        {"NoExt", 6},         {"data01000", 0}, {"Archive", 0},       {"missing.arc", 0}};
    for (const auto& [name, value] : rows) {
        const HashListEntry* record = FindRecordForEntry(list, name);
        EXPECT_EQ(record ? record->value : 0, value) << name;
    }
}

TEST(HashListRulesTest, PruneDropsMissingFilesAndKeepsFoldersAndUnformablePaths) {
    ScratchFolder folder;
    const std::string items = "\xE3\x82\xA2\xE3\x82\xA4\xE3\x83\x86\xE3\x83\xA0";  // アイテム
    PutFiles(folder.path(),
             {{"Archive/kept.arc", {}}, {"Archive/Sub/x", {}}, {items + "/Save", {}}});
    // A path too long to join to the folder cannot be shown to be gone.
    const std::string unformable(800, 'u');
    std::vector<HashListEntry> list{{"Archive\\gone.arc", 1}, {"Archive\\kept.arc", 2},
                                    {"Archive\\Sub", 3},      {"gone.arc", 4},
                                    {items + "\\Save", 5},    {unformable, 6}};
    PruneHashList(list, folder.path().u16string().c_str());
    std::vector<std::string> kept;
    for (const HashListEntry& entry : list) kept.push_back(entry.path);
    EXPECT_EQ(kept, (std::vector<std::string>{"Archive\\kept.arc", "Archive\\Sub", items + "\\Save",
                                              unformable}));
}

}  // namespace
