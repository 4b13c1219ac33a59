// Plays a crash on Windows, where a test cannot fork: installs PROGRAM into FOLDER, or with
// no PROGRAM recovers FOLDER, and ends the process at its K-th file step with
// TerminateProcess, so that nothing of ours cleans up after it (K = 0 runs to the end).
//   commit_crash FOLDER K [PROGRAM]
// Exit: the install's result, or 0 recovered and 1 failed; 99 when ended.
#include <cstdlib>

#include "package/commit.h"
#include "package/install_package.h"
#include "platform/win32.h"

using namespace package;

namespace {

constexpr UINT Ended = 99;
unsigned long StepsLeft = 0;

void CountStep() {
    if (StepsLeft != 0 && --StepsLeft == 0) TerminateProcess(GetCurrentProcess(), Ended);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) return 2;
    StepsLeft = std::wcstoul(argv[2], nullptr, 10);
    FileStepHook = CountStep;
    if (argc == 3) return RecoverUpdate(AsUtf16(argv[1])) ? 0 : 1;
    InstallWatcher unattended;
    return ExitCode(InstallPackage(AsUtf16(argv[3]), AsUtf16(argv[1]), unattended));
}
