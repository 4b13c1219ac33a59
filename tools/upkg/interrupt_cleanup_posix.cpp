#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "package/file.h"
#include "package/native_path.h"
#include "tools/upkg/interrupt_cleanup.h"

namespace upkg {

namespace {

// Read by the signal handler, so kept in plain storage that needs no allocation.
char armedName[256 * 4];
int armedFolder = -1;
volatile sig_atomic_t armed = 0;

void RemoveAndEnd(int signal) {
    if (armed) unlinkat(armedFolder, armedName, 0);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

void InstallHandlers() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        struct sigaction previous {};
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = RemoveAndEnd;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

void ArmInterruptCleanup(const package::HeldFolder& folder, const std::u16string& name) {
    armed = 0;
    std::string native;
    if (!package::ToNativePath(name.c_str(), &native) || native.size() >= sizeof armedName) return;
    std::memcpy(armedName, native.c_str(), native.size() + 1);
    armedFolder = static_cast<int>(folder.Handle());
    InstallHandlers();
    armed = 1;
}

void DisarmInterruptCleanup() {
    armed = 0;
}

}  // namespace upkg
