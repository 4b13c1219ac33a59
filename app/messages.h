// Every text the updater shows, in English and Japanese.
#pragma once

#include <cstdint>

enum MessageId : uint32_t {
    MessageUpdaterVersion = 0,
    MessageNoVersionInformation = 1,
    MessageNotInstalled = 2,
    MessageFolderNotFound = 3,
    MessageSelectFolder = 4,
    MessageConfirmInstall = 5,
    MessageGameNotInFolder = 6,
    MessageWillCancel = 7,
    MessageAlreadyInstalled = 8,
    MessageFolderMissing = 9,
    MessageInstalling = 10,
    MessageConfirmCancel = 11,
    MessageComplete = 12,
    MessageDamaged = 13,
    MessageInstallFailed = 14,
    MessageUninstallListFailed = 15,
    MessageDialogFailed = 16,
    MessageGameRunning = 17,
    MessageError = 18,
};

// The text of `id` in the current language; the empty text for an unknown id, never null.
const wchar_t* GetMessageText(uint32_t id);

// True when the current language is Japanese.
bool IsJapanese();
