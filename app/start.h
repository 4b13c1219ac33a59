// The updater's entry routine: the startup checks, the progress dialog, the install and
// the outcome.
#pragma once

#include "text/win32.h"

// Exit codes of the startup checks; after an install the exit code is its ResultCode.
constexpr int ExitNotInstalled = -1;
constexpr int ExitGameRunning = -2;
constexpr int ExitDeclined = -3;
constexpr int ExitDialogFailed = -4;
constexpr int ExitNoPackage = -5;
constexpr int ExitAlreadyRunning = -6;

// Runs the whole update and returns the process exit code.
int StartUpdater(HINSTANCE instance, int showCommand);

// Reads the installation folder from HKEY_LOCAL_MACHINE\Software\<brand>\<title>, value
// "InstalledFolder" (REG_SZ), into `folder` of PathBufferLength units, without the
// quotes of a value quoted at both ends. False when it is missing or does not fit.
bool QueryInstalledFolder(wchar_t* folder, const wchar_t* brand, const wchar_t* title);
