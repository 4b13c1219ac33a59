#include "install_fixture.h"

#include "package/file.h"
#include "package/install_package.h"

namespace fs = std::filesystem;

InstallTest::InstallTest() {
    WriteFile(root_.path() / "stub.exe", WindowsProgram(4000));
}

void InstallTest::BuildUpdate(const FileList& files) {
    BuildProgram(root_.path() / "stub.exe", root_.path() / "src", files, program_);
}

void InstallTest::MakeGame(const FileList& files) {
    RemoveTree(game_);
    fs::create_directories(game_);
    PutFiles(game_, files);
}

ResultCode InstallTest::Install() {
    InstallWatcher unattended;
    return InstallPackage(program_.u16string().c_str(), game_.u16string().c_str(), unattended);
}

void InstallTest::ExpectRefusedUnchanged(ResultCode expected) {
    const Tree before = Snapshot(game_);
    EXPECT_EQ(Install(), expected);
    EXPECT_EQ(Snapshot(game_), before);
}

fs::path AsideIn(const fs::path& folder, const std::string& name) {
    return folder / (name + "." + std::to_string(CurrentProcessId()) + ".old");
}
