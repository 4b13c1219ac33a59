// An installation folder and an update program for it, built by the packer, shared by the
// portable install tests and the Windows ones that drive the progress dialog.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fixtures.h"
#include "package/result_code.h"

class InstallTest : public ::testing::Test {
protected:
    InstallTest();

    // Packs `files` into the update program.
    void BuildUpdate(const FileList& files);
    // Makes the installation folder hold just `files`.
    void MakeGame(const FileList& files);
    // Installs the update program into the installation folder, unattended.
    virtual ResultCode Install();
    // The result, and the installation folder exactly as it was.
    void ExpectRefusedUnchanged(ResultCode expected);

    ScratchFolder root_;
    std::filesystem::path game_ = root_.path() / "game";
    std::filesystem::path program_ = root_.path() / "update.exe";
};

// Where this process sets the file `name` aside.
std::filesystem::path AsideIn(const std::filesystem::path& folder, const std::string& name);

// A link to the folder `target` at `link` (a reparse point to Windows), unless one is there.
void MakeFolderLink(const std::filesystem::path& link, const std::filesystem::path& target);

// Whether the system finds a file under its name in other letter case, as Windows does.
extern const bool NamesIgnoreCase;

// Installs `program` into `folder`, or with no program recovers `folder`, in a process of its
// own that is ended at its `step`-th file step as a crash would end it (0: runs to the end).
// Its exit code: 99 when it was ended, else the install's result (its low byte where exit
// codes have 8 bits), or 0 when the recovery succeeded and 1 when it failed.
int RunCrash(const std::filesystem::path& program, const std::filesystem::path& folder,
             unsigned step);
constexpr int CrashEnded = 99;
