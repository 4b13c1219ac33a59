// Driving the real updater from outside, as a person would: start it, find its windows,
// read them, press their buttons, and wait for its exit code.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/win32.h"

// Sets the game's registry value InstalledFolder (REG_SZ unless given); Forget removes the
// key, so the game counts as not installed.
void SetInstalledFolder(const std::wstring& value, DWORD type = REG_SZ);
void ForgetInstallation();

// A message box of the updater, as read from the screen.
struct Box {
    HWND window = nullptr;
    std::wstring caption, text;
    int defaultButton = 0;  // id of the button with BS_DEFPUSHBUTTON
};

// One run of the updater program, which inherits this process's environment and language.
class UpdaterRun {
public:
    UpdaterRun() = default;
    ~UpdaterRun();  // ends the process if it still runs
    UpdaterRun(const UpdaterRun&) = delete;
    UpdaterRun& operator=(const UpdaterRun&) = delete;

    bool Start(const std::filesystem::path& program);
    // The next message box, or the progress dialog: none when the run ends or time runs out.
    std::optional<Box> WaitForBox(DWORD milliseconds = 20000);
    HWND WaitForDialog(DWORD milliseconds = 20000);
    bool ShowedNoWindow() const { return !sawWindow_; }  // before it ended
    // Clicks button `id`; Answer also waits until the box has gone.
    static void Press(HWND window, int id);
    static void Answer(const Box& box, int id);
    // The exit code; fails the test and ends the process when it does not end in time.
    int WaitForExit(DWORD milliseconds = 60000);
    // Holds the updater's thread, for steps that must not race it.
    void Suspend() { SuspendThread(info_.hThread); }
    void Resume() { ResumeThread(info_.hThread); }

private:
    HWND WaitForWindow(bool (*accept)(HWND), DWORD milliseconds);
    void End();

    PROCESS_INFORMATION info_{};
    bool sawWindow_ = false;
};

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND window, int id);
