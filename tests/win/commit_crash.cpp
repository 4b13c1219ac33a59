// Plays a crash: runs an install or a recovery and ends the process at its k-th file step
// with TerminateProcess, so that nothing of ours cleans up after it.
//   commit_crash install PROGRAM FOLDER K   exit: the install's result, or 99 when ended
//   commit_crash recover FOLDER K           exit: 0 recovered, 1 failed, or 99 when ended
// K = 0 runs to the end.
#include <cstdlib>
#include <cwchar>

#include "app/commit.h"
#include "app/install.h"

namespace {

constexpr UINT Ended = 99;
unsigned long StepsLeft = 0;

void CountStep() {
    if (StepsLeft != 0 && --StepsLeft == 0) TerminateProcess(GetCurrentProcess(), Ended);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool install = argc == 5 && std::wcscmp(argv[1], L"install") == 0;
    const bool recover = argc == 4 && std::wcscmp(argv[1], L"recover") == 0;
    if (!install && !recover) return 2;
    StepsLeft = std::wcstoul(argv[argc - 1], nullptr, 10);
    FileStepHook = CountStep;
    if (install) return InstallUpdateFrom(argv[2], argv[3]);
    return RecoverUpdate(argv[2]) ? 0 : 1;
}
