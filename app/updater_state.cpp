#include "app/updater_state.h"

namespace updater {

int32_t CurrentLanguage = LanguageEnglish;
wchar_t UpdaterTitle[package::TitleCapacity];
HWND ProgressDialogWindow = nullptr;
int32_t CancelRequested = 0;
int32_t InstallAborted = 0;

}  // namespace updater
