// The updater's entry routine: the startup checks, the progress dialog, the install and
// the outcome.
#pragma once

#include "platform/win32.h"

namespace updater {

// Runs the whole update and returns the process exit code: a StartupExitCode, or the
// ResultCode of the installation (both in package/result_code.h).
int StartUpdater(HINSTANCE instance, int showCommand);

// Reads the installation folder from HKEY_LOCAL_MACHINE\Software\<brand>\<title>, value
// "InstalledFolder" (REG_SZ), into `folder` of PathBufferLength units, without the
// quotes of a value quoted at both ends. False when it is missing or does not fit.
bool QueryInstalledFolder(wchar_t* folder, const wchar_t* brand, const wchar_t* title);

}  // namespace updater
