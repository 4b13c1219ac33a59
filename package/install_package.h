// Installing the update that travels inside a program file: every entry is copied to a
// temporary file beside its final place and verified, and only when all arrived intact are
// the files put in place and the hash list and uninstall list updated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "package/result_code.h"

namespace package {

// The entry's own progress runs from 0 to this.
constexpr uint32_t EntryProgressRange = 65535;

// What an installation shows and asks while it works; the updater's progress dialog is one.
// The defaults show nothing and never stop, which installs unattended.
class InstallWatcher {
public:
    virtual ~InstallWatcher() = default;
    // Before the first entry: how many there are.
    virtual void Begin(size_t /*entries*/) {}
    // An entry starts; `destination` is its place in the installation folder.
    virtual void StartEntry(const std::u16string& /*destination*/) {}
    // The current entry has reached `position` of EntryProgressRange.
    virtual void ShowEntryProgress(uint32_t /*position*/) {}
    // `done` entries are finished.
    virtual void ShowPackageProgress(size_t /*done*/) {}
    // Lets the player act between units of work; false when the run must end at once.
    virtual bool Pump() { return true; }
    // True once the run was cancelled or ended from outside: the install stops.
    virtual bool Stopped() { return false; }
    // The install ends the run itself: the package cannot be read on, or Pump said so.
    virtual void Abort() {}
};

// Installs the package of the program file at `programPath` into `folder`. A run that was
// stopped returns PackageDamaged; the watcher knows why.
ResultCode InstallPackage(const char16_t* programPath, const char16_t* folder,
                          InstallWatcher& watcher);

}  // namespace package
