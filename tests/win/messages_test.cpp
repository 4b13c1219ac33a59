#include "app/messages.h"

#include <gtest/gtest.h>

#include "app/updater_state.h"

using namespace updater;

// The texts themselves are read off the real boxes by the end-to-end runs.
TEST(Messages, EveryIdHasTextInBothLanguagesAndUnknownIdsAreEmpty) {
    for (int32_t language : {LanguageEnglish, LanguageJapanese}) {
        CurrentLanguage = language;
        EXPECT_EQ(IsJapanese(), language == LanguageJapanese);
        for (uint32_t id = 0; id <= static_cast<uint32_t>(MessageId::Error); ++id)
            EXPECT_NE(GetMessageText(static_cast<MessageId>(id))[0], 0) << id;
        for (uint32_t id : {19u, 0xFFFFFFFFu})
            EXPECT_STREQ(GetMessageText(static_cast<MessageId>(id)), L"");
    }
    CurrentLanguage = LanguageEnglish;
}
