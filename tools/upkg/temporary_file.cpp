#include "tools/upkg/temporary_file.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "tools/upkg/file_system.h"

namespace fs = std::filesystem;

namespace {

// Names already taken are skipped, so the count only bounds a folder that refuses them all.
constexpr int Attempts = 100;

std::string RandomSuffix() {
    static std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
    return text;
}

}  // namespace

TemporaryFile::~TemporaryFile() {
    file_.Close();
    if (path_.empty() || placed_) return;
    DeleteFileAt(path_.u16string().c_str());
    DisarmInterruptCleanup();
}

bool TemporaryFile::Create(std::string& error) {
    const fs::path folder = target_.parent_path();
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const fs::path candidate = folder / fs::u8path("." + target_.filename().u8string() + "." +
                                                       RandomSuffix() + ".tmp");
        if (file_.OpenForWrite(candidate.u16string().c_str(), CreateNew)) {
            path_ = candidate;
            ArmInterruptCleanup(path_);
            return true;
        }
        if (file_.LastError() != ErrorFileExists) break;
    }
    error = WriteError();
    return false;
}

bool TemporaryFile::PutInPlace(bool replace, std::string& error) {
    file_.Close();
    const bool moved = replace
                           ? MoveFileOver(path_.u16string().c_str(), target_.u16string().c_str())
                           : MoveFileNew(path_, target_);
    if (!moved) {
        const std::string reason = SystemErrorText();
        error = "cannot put \"" + target_.u8string() + "\" in place: " + reason;
        return false;
    }
    placed_ = true;
    DisarmInterruptCleanup();
    return true;
}

std::string TemporaryFile::WriteError() const {
    return "cannot write \"" + target_.u8string() + "\": " + file_.LastErrorText();
}
