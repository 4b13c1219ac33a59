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
    staged_.Discard();
    if (armed_) DisarmInterruptCleanup();
}

bool TemporaryFile::Create(std::string& error) {
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const std::string suffix = "." + RandomSuffix() + ".tmp";
        const std::u16string candidate =
            u"." + staged_.name() + std::u16string(suffix.begin(), suffix.end());
        if (staged_.Create(candidate, false)) {
            ArmInterruptCleanup(staged_.folder(), candidate);
            armed_ = true;
            return true;
        }
        if (staged_.file().LastError() != package::ErrorFileExists) break;
    }
    error = WriteError();
    return false;
}

bool TemporaryFile::PutInPlace(bool replace, std::string& error) {
    if (!staged_.PutInPlace(false, replace)) {
        const std::string reason = package::SystemErrorText();
        error = "cannot put " + Quoted(shown_) + " in place: " + reason;
        return false;
    }
    DisarmInterruptCleanup();
    armed_ = false;
    return true;
}

std::string TemporaryFile::WriteError() const {
    return "cannot write " + Quoted(shown_) + ": " + staged_.file().LastErrorText();
}

}  // namespace upkg
