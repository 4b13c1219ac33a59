#include "app/updater_state.h"

int32_t CurrentLanguage = LanguageEnglish;
wchar_t UpdaterTitle[TitleCapacity];
HWND ProgressDialogWindow = nullptr;
int32_t CancelRequested = 0;
int32_t InstallAborted = 0;
