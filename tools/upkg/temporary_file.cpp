#include "tools/upkg/temporary_file.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "tools/upkg/interrupt_cleanup.h"
#include "tools/upkg/report.h"

namespace upkg {

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
    if (temporary_.empty() || placed_) return;
    folder_.Remove(temporary_.c_str());
    DisarmInterruptCleanup();
}

bool TemporaryFile::Create(std::string& error) {
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const std::string suffix = "." + RandomSuffix() + ".tmp";
        const std::u16string candidate =
            u"." + name_ + std::u16string(suffix.begin(), suffix.end());
        if (file_.OpenForWriteIn(folder_, candidate.c_str(), package::CreateNew)) {
            temporary_ = candidate;
            ArmInterruptCleanup(folder_, temporary_);
            return true;
        }
        if (file_.LastError() != package::ErrorFileExists) break;
    }
    error = WriteError();
    return false;
}

bool TemporaryFile::PutInPlace(bool replace, std::string& error) {
    file_.Close();
    if (!folder_.Move(temporary_.c_str(), name_.c_str(), replace)) {
        const std::string reason = package::SystemErrorText();
        error = "cannot put " + Quoted(shown_) + " in place: " + reason;
        return false;
    }
    placed_ = true;
    DisarmInterruptCleanup();
    return true;
}

std::string TemporaryFile::WriteError() const {
    return "cannot write " + Quoted(shown_) + ": " + file_.LastErrorText();
}

}  // namespace upkg
