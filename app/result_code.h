// Outcome of an installation; after one ran it is also the process exit code. Values are
// part of the program's interface and are never renumbered.
#pragma once

#include <cstdint>

enum ResultCode : int32_t {
    Ok = 0,
    PackageDamaged = static_cast<int32_t>(0x80000001),
    PackageIndexUnreadable = static_cast<int32_t>(0x80000002),
    InstallFailed = static_cast<int32_t>(0x80000004),
    UninstallListFailed = static_cast<int32_t>(0x80000005),
    Cancelled = static_cast<int32_t>(0x80000006),
    Interrupted = static_cast<int32_t>(0x80000007),
};
