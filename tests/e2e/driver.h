// Driving the real updater from outside, as a person would: start it, find its windows,
// read them, press their buttons, and wait for its exit code.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/win32.h"

// Sets HKLM\Software\NORTHELM\Lumenfall value "InstalledFolder" (type REG_SZ unless given).
void SetInstalledFolder(const std::wstring& value, DWORD type = REG_SZ);
// Removes the key, so the game counts as not installed.
void ForgetInstallation();

// A message box of the updater, as read from the screen.
struct Box {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    int defaultButton = 0;  // id of the button with BS_DEFPUSHBUTTON
};

// One run of the updater program.
class UpdaterRun {
public:
    UpdaterRun() = default;
    ~UpdaterRun();
    UpdaterRun(const UpdaterRun&) = delete;
    UpdaterRun& operator=(const UpdaterRun&) = delete;

    // Starts `program`, which inherits this process's environment and language.
    bool Start(const std::filesystem::path& program);

    // The next message box of this run; nullopt when none appears within `milliseconds`.
    std::optional<Box> WaitForBox(DWORD milliseconds = 20000);
    // The progress dialog; null when it does not appear.
    HWND WaitForDialog(DWORD milliseconds = 20000);
    // True when the process showed no window at all before it ended.
    bool ShowedNoWindow() const { return !sawWindow_; }

    // Clicks button `id` of a box or dialog.
    static void Press(HWND window, int id);
    // Clicks button `id` of a message box and waits until the box has gone.
    static void Answer(const Box& box, int id);
    // Waits until a box has gone.
    static void WaitUntilGone(const Box& box);

    // The exit code; fails the test and ends the process when it does not end in time.
    int WaitForExit(DWORD milliseconds = 60000);

    // Suspends or resumes the updater's thread, for steps that must not race it.
    void Suspend();
    void Resume();

    DWORD processId() const { return info_.dwProcessId; }
    DWORD threadId() const { return info_.dwThreadId; }

private:
    HWND FindWindowOf(bool (*accept)(HWND));

    PROCESS_INFORMATION info_{};
    bool sawWindow_ = false;
};

// The texts of a window and of one of its controls.
std::wstring WindowText(HWND window);
std::wstring ControlText(HWND window, int id);
