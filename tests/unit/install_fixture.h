// An installation folder and an update program for it, built by the packer, shared by the
// portable install tests and the Windows ones that drive the progress dialog.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fixtures.h"
#include "package/file.h"
#include "package/install_package.h"

class InstallTest : public ::testing::Test {
protected:
    InstallTest() { WriteFile(root_.path() / "stub.exe", WindowsProgram(4000)); }

    void BuildUpdate(const FileList& files) {
        BuildProgram(root_.path() / "stub.exe", root_.path() / "src", files, program_);
    }
    // Makes the installation folder hold just `files`.
    void MakeGame(const FileList& files) {
        RemoveTree(game_);
        std::filesystem::create_directories(game_);
        PutFiles(game_, files);
    }
    // Installs unattended.
    virtual package::ResultCode Install() {
        package::InstallWatcher unattended;
        return package::InstallPackage(program_.u16string().c_str(), game_.u16string().c_str(),
                                       unattended);
    }
    // The result, and the installation folder exactly as it was.
    void ExpectRefusedUnchanged(package::ResultCode expected) {
        const Tree before = Snapshot(game_);
        EXPECT_EQ(Install(), expected);
        EXPECT_EQ(Snapshot(game_), before);
    }

    ScratchFolder root_;
    std::filesystem::path game_ = root_.path() / "game";
    std::filesystem::path program_ = root_.path() / "update.exe";
};

// The file steps of an install that a test counts: none means nothing was written.
inline int Steps = 0;

// Where this process sets the file `name` aside.
inline std::filesystem::path AsideIn(const std::filesystem::path& folder, const std::string& name) {
    return folder / (name + "." + std::to_string(package::CurrentProcessId()) + ".old");
}

// A link to the folder `target` at `link` (a reparse point to Windows), unless one is there.
void MakeFolderLink(const std::filesystem::path& link, const std::filesystem::path& target);

// Installs `program` into `folder`, or with no program recovers `folder`, in a process of its
// own that is ended at its `step`-th file step as a crash would end it (0: runs to the end).
// Its exit code: 99 when it was ended, else the install's result (its low byte where exit
// codes have 8 bits), or 0 when the recovery succeeded and 1 when it failed.
int RunCrash(const std::filesystem::path& program, const std::filesystem::path& folder,
             unsigned step);
constexpr int CrashEnded = 99;
