#include "app/commit.h"

#include "platform/win32.h"

namespace {

struct DoneMove {
    const FileMove* move;
    std::wstring aside;  // empty when there was no final file
    DWORD attributes;    // of the final file that was set aside
};

bool Move(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// Puts back the final file that `step` set aside, with its attributes.
void PutBack(const DoneMove& step) {
    if (step.aside.empty()) return;
    Move(step.aside, step.move->final);
    SetFileAttributesW(step.move->final.c_str(), step.attributes);
}

// Takes the new file back to its temporary name, then puts back the old one.
void Undo(const DoneMove& step) {
    Move(step.move->final, step.move->temporary);
    PutBack(step);
}

// The process id keeps the set-aside names clear of the package's own files.
std::wstring AsideSuffix() {
    std::wstring suffix = L".old";
    for (DWORD id = GetCurrentProcessId(); id != 0; id /= 10)
        suffix.insert(suffix.begin(), static_cast<wchar_t>(L'0' + id % 10));
    return L"." + suffix;
}

// Sets an existing final file aside (read-only or not) and moves the new file in; on
// failure leaves both as they were.
bool MoveIn(const FileMove& move, const std::wstring& asideSuffix, DoneMove& step) {
    step = {&move, L"", 0};
    const DWORD attributes = GetFileAttributesW(move.final.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesW(move.final.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!Move(move.final, move.final + asideSuffix)) {
            SetFileAttributesW(move.final.c_str(), attributes);
            return false;
        }
        step.aside = move.final + asideSuffix;
        step.attributes = attributes;
    }
    if (Move(move.temporary, move.final)) return true;
    PutBack(step);
    return false;
}

}  // namespace

bool CommitFiles(const std::vector<FileMove>& moves) {
    const std::wstring asideSuffix = AsideSuffix();
    std::vector<DoneMove> done;
    for (const FileMove& move : moves) {
        DoneMove step{};
        if (!MoveIn(move, asideSuffix, step)) {
            for (auto it = done.rbegin(); it != done.rend(); ++it) Undo(*it);
            return false;
        }
        done.push_back(std::move(step));
    }
    for (const DoneMove& step : done)
        if (!step.aside.empty()) DeleteFileW(step.aside.c_str());
    return true;
}
