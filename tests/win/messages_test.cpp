#include "app/messages.h"

#include <gtest/gtest.h>

#include "app/updater_state.h"
#include "text/format.h"

namespace {

class MessagesTest : public ::testing::Test {
protected:
    void TearDown() override { CurrentLanguage = LanguageEnglish; }
};

TEST_F(MessagesTest, EachLanguageGetsItsOwnText) {
    CurrentLanguage = LanguageEnglish;
    EXPECT_FALSE(IsJapanese());
    EXPECT_STREQ(GetMessageText(MessageConfirmInstall), L"Install the update?");
    EXPECT_STREQ(GetMessageText(MessageError), L"Error");
    EXPECT_STREQ(
        GetMessageText(MessageFolderNotFound),
        L"The installed folder cannot be found.\nDo you want to specify the installation folder?");

    CurrentLanguage = LanguageJapanese;
    EXPECT_TRUE(IsJapanese());
    EXPECT_STREQ(GetMessageText(MessageConfirmInstall), L"アップデートを行いますか\xFF1F");
    EXPECT_STREQ(GetMessageText(MessageComplete), L"インストールが完了しました\x3002");
    EXPECT_STREQ(GetMessageText(MessageError), L"エラー");
}

TEST_F(MessagesTest, EveryIdInUseHasTextInBothLanguagesAndUnknownIdsAreEmpty) {
    for (int32_t language : {LanguageEnglish, LanguageJapanese}) {
        CurrentLanguage = language;
        for (uint32_t id = 0; id <= MessageError; ++id) {
            ASSERT_NE(GetMessageText(id), nullptr);
            EXPECT_NE(GetMessageText(id)[0], 0) << id;
        }
        for (uint32_t id : {19u, 0xFFFFFFFFu}) {
            ASSERT_NE(GetMessageText(id), nullptr);
            EXPECT_STREQ(GetMessageText(id), L"");
        }
    }
}

TEST_F(MessagesTest, StatusLineFormatNamesTheFile) {
    char16_t line[100];
    CurrentLanguage = LanguageEnglish;
    ASSERT_GT(FormatWide(line, AsUtf16(GetMessageText(MessageInstalling)), {u"data01000.arc"}), 0);
    EXPECT_EQ(std::u16string(line), u"Installing \"data01000.arc\".");
    CurrentLanguage = LanguageJapanese;
    ASSERT_GT(FormatWide(line, AsUtf16(GetMessageText(MessageInstalling)), {u"data01000.arc"}), 0);
    EXPECT_EQ(std::u16string(line), u"\"data01000.arc\"をインストール中");
}

}  // namespace
