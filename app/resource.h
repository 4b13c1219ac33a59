// Resource ids of the updater program, shared by updater.rc and the code. Plain defines,
// since the resource compiler reads this file too.
#pragma once

namespace updater {

#define IDI_UPDATER 101
#define IDD_PROGRESS_JAPANESE 102
#define IDD_PROGRESS_ENGLISH 103

// Controls of the progress dialog.
#define IDC_CANCEL 1000
#define IDC_STATUS 1001
#define IDC_ENTRY_BAR 1002
#define IDC_PACKAGE_BAR 1003

}  // namespace updater
