// Process-wide state of the updater. Everything runs on one thread, so these are plain
// variables; the dialog procedure sets the flags while the install pumps messages.
#pragma once

#include <cstdint>

#include "package/archive_format.h"
#include "platform/win32.h"

namespace updater {

constexpr int32_t LanguageJapanese = 1;
constexpr int32_t LanguageEnglish = 2;

extern int32_t CurrentLanguage;                       // LanguageJapanese or LanguageEnglish
extern wchar_t UpdaterTitle[package::TitleCapacity];  // caption of the dialog and every message box
extern HWND ProgressDialogWindow;                     // null while no progress dialog exists
extern int32_t CancelRequested;                       // the user confirmed Cancel
extern int32_t InstallAborted;                        // the dialog closed, a quit message came, ...

}  // namespace updater
