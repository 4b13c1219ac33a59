#include <sys/wait.h>
#include <unistd.h>

#include "install_fixture.h"
#include "package/commit.h"
#include "package/install_package.h"

using namespace package;

namespace fs = std::filesystem;

void MakeFolderLink(const fs::path& link, const fs::path& target) {
    if (!fs::is_symlink(link)) fs::create_directory_symlink(target, link);
}

int RunCrash(const fs::path& program, const fs::path& folder, unsigned step) {
    const pid_t child = fork();
    if (child == 0) {
        // _exit, never exit: nothing of ours may clean up after a crash.
        static unsigned stepsLeft;  // this child's own
        stepsLeft = step;
        FileStepHook = [] {
            if (stepsLeft != 0 && --stepsLeft == 0) _exit(CrashEnded);
        };
        InstallWatcher unattended;
        if (program.empty()) _exit(RecoverUpdate(folder.u16string().c_str()) ? 0 : 1);
        _exit(ExitCode(
            InstallPackage(program.u16string().c_str(), folder.u16string().c_str(), unattended)));
    }
    int status = 0;
    EXPECT_NE(child, -1);
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status);
}
