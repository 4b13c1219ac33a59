// Every text the updater shows, in English and Japanese.
#pragma once

#include <cstdint>

namespace updater {

enum class MessageId : uint32_t {
    UpdaterVersion = 0,
    NoVersionInformation = 1,
    NotInstalled = 2,
    FolderNotFound = 3,
    SelectFolder = 4,
    ConfirmInstall = 5,
    GameNotInFolder = 6,
    WillCancel = 7,
    AlreadyInstalled = 8,
    FolderMissing = 9,
    Installing = 10,
    ConfirmCancel = 11,
    Complete = 12,
    Damaged = 13,
    InstallFailed = 14,
    UninstallListFailed = 15,
    DialogFailed = 16,
    GameRunning = 17,
    Error = 18,
};

// The text of `id` in the current language; the empty text for an unknown id, never null.
const wchar_t* GetMessageText(MessageId id);

// True when the current language is Japanese.
bool IsJapanese();

}  // namespace updater
