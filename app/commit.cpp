#include "app/commit.h"

#include "text/win32.h"

namespace {

struct DoneMove {
    const FileMove* move;
    std::wstring aside;  // empty when there was no final file
    DWORD attributes;    // of the final file that was set aside
};

bool Move(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void Undo(const DoneMove& done) {
    Move(done.move->final, done.move->temporary);
    if (done.aside.empty()) return;
    Move(done.aside, done.move->final);
    SetFileAttributesW(done.move->final.c_str(), done.attributes);
}

}  // namespace

bool CommitFiles(const std::vector<FileMove>& moves) {
    // The process id keeps the set-aside names clear of the package's own files.
    std::wstring asideSuffix = L".old";
    for (DWORD id = GetCurrentProcessId(); id != 0; id /= 10)
        asideSuffix.insert(asideSuffix.begin(), static_cast<wchar_t>(L'0' + id % 10));
    asideSuffix.insert(asideSuffix.begin(), L'.');
    std::vector<DoneMove> done;
    bool failed = false;
    for (const FileMove& move : moves) {
        DoneMove step{&move, L"", 0};
        const DWORD attributes = GetFileAttributesW(move.final.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            // A read-only file is replaced all the same.
            SetFileAttributesW(move.final.c_str(), FILE_ATTRIBUTE_NORMAL);
            step.aside = move.final + asideSuffix;
            step.attributes = attributes;
            if (!Move(move.final, step.aside)) {
                SetFileAttributesW(move.final.c_str(), attributes);
                failed = true;
                break;
            }
        }
        if (!Move(move.temporary, move.final)) {
            if (!step.aside.empty()) {
                Move(step.aside, move.final);
                SetFileAttributesW(move.final.c_str(), attributes);
            }
            failed = true;
            break;
        }
        done.push_back(std::move(step));
    }
    if (failed) {
        for (auto it = done.rbegin(); it != done.rend(); ++it) Undo(*it);
        return false;
    }
    for (const DoneMove& step : done)
        if (!step.aside.empty()) DeleteFileW(step.aside.c_str());
    return true;
}
