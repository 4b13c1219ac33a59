// Every code the updater can end with. Values are part of the program's interface and are
// never renumbered.
#pragma once

#include <cstdint>

namespace package {

// Outcome of an installation; after one ran it is also the process exit code.
enum class ResultCode : int32_t {
    Ok = 0,
    PackageDamaged = static_cast<int32_t>(0x80000001),
    PackageIndexUnreadable = static_cast<int32_t>(0x80000002),
    InstallFailed = static_cast<int32_t>(0x80000004),
    UninstallListFailed = static_cast<int32_t>(0x80000005),
    Cancelled = static_cast<int32_t>(0x80000006),
    Interrupted = static_cast<int32_t>(0x80000007),
};

// The outcome message calls every code from PackageDamaged up to this one a damaged package,
// including the one that no installation returns today.
constexpr uint32_t LastDamagedPackageCode = 0x80000003;

// Exit codes of the startup checks, which end the program before any installation.
enum class StartupExitCode : int32_t {
    NotInstalled = -1,
    GameRunning = -2,
    Declined = -3,
    DialogFailed = -4,
    NoPackage = -5,
    AlreadyRunning = -6,
};

// The process exit code of an outcome.
constexpr int ExitCode(ResultCode code) {
    return static_cast<int>(code);
}
constexpr int ExitCode(StartupExitCode code) {
    return static_cast<int>(code);
}

}  // namespace package
