#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "package/file.h"
#include "tools/upkg/file_system.h"

namespace fs = std::filesystem;

namespace {

// Read by the signal handler, so kept in plain storage that needs no allocation.
char armedPath[4096];
volatile sig_atomic_t armed = 0;

void RemoveAndEnd(int signal) {
    if (armed) unlink(armedPath);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

void InstallHandlers() {
    for (int signal : {SIGINT, SIGTERM}) {
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

bool GetNodeKind(const fs::path& path, NodeKind& kind, std::string& error) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            error = SystemErrorText();
            return false;
        }
        kind = NodeKind::Missing;
        return true;
    }
    kind = S_ISLNK(info.st_mode)   ? NodeKind::Link
           : S_ISDIR(info.st_mode) ? NodeKind::Folder
           : S_ISREG(info.st_mode) ? NodeKind::File
                                   : NodeKind::Other;
    return true;
}

bool MoveFileNew(const fs::path& source, const fs::path& target) {
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the flag still refuse a hard link onto an existing name.
    if (link(source.c_str(), target.c_str()) != 0) return false;
    unlink(source.c_str());
    return true;
}

void ArmInterruptCleanup(const fs::path& path) {
    armed = 0;
    const std::string& native = path.native();
    if (native.size() >= sizeof armedPath) return;
    std::memcpy(armedPath, native.c_str(), native.size() + 1);
    InstallHandlers();
    armed = 1;
}

void DisarmInterruptCleanup() {
    armed = 0;
}
