#include "app/journal.h"

#include "package/file.h"
#include "package/package_plan.h"
#include "package/safe_write.h"

void (*FileStepHook)() = nullptr;

std::wstring InFolder(const wchar_t* folder, const std::wstring& name) {
    return std::wstring(folder) + L"\\" + name;
}

std::wstring InFolder(const wchar_t* folder, const std::u16string& name) {
    return InFolder(folder, std::wstring(AsWide(name.c_str()), name.size()));
}

std::wstring JournalPath(const wchar_t* folder) {
    return InFolder(folder, Utf16Name(JournalName));
}

void FileStep() {
    if (FileStepHook != nullptr) FileStepHook();
}

uint64_t JournalSize(const Journal& journal) {
    return EncodeJournal(journal).size();
}

bool WriteJournal(const wchar_t* folder, const Journal& journal) {
    const std::string bytes = EncodeJournal(journal);
    return WriteFileSafely(AsUtf16(JournalPath(folder).c_str()), bytes.data(), bytes.size(),
                           {true, FileStep});
}

JournalState ReadJournal(const wchar_t* folder, Journal& journal) {
    const std::wstring path = JournalPath(folder);
    const uint32_t attributes = GetAttributesAt(AsUtf16(path.c_str()));
    if (attributes == NoFileAttributes) return JournalState::Absent;
    std::string bytes;
    Journal read;
    if ((attributes & (AttributeDirectory | AttributeReparsePoint)) ||
        !ReadWholeFile(AsUtf16(path.c_str()), bytes, MaximumJournalBytes) ||
        !DecodeJournal(bytes, read) || !IsJournalSound(read))
        return JournalState::Unreadable;
    journal = std::move(read);
    return JournalState::Read;
}
