#include "package/journal.h"

#include "package/file.h"
#include "package/installation_names.h"
#include "package/safe_write.h"

namespace package {

void (*FileStepHook)() = nullptr;

std::u16string InFolder(const char16_t* folder, const std::u16string& name) {
    std::u16string path(std::char_traits<char16_t>::length(folder) + 1 + name.size() + 1, u'\0');
    JoinPath(&path[0], path.size(), folder, name.c_str());
    path.pop_back();
    return path;
}

std::u16string JournalPath(const char16_t* folder) {
    return InFolder(folder, Utf16Name(JournalName));
}

void FileStep() {
    if (FileStepHook != nullptr) FileStepHook();
}

uint64_t JournalSize(const Journal& journal) {
    return EncodeJournal(journal).size();
}

bool WriteJournal(const char16_t* folder, const Journal& journal) {
    const std::string bytes = EncodeJournal(journal);
    return WriteFileSafely(JournalPath(folder).c_str(), bytes.data(), bytes.size(),
                           {true, FileStep});
}

JournalState ReadJournal(const char16_t* folder, Journal& journal) {
    const std::u16string path = JournalPath(folder);
    const uint32_t attributes = GetAttributesAt(path.c_str());
    if (attributes == NoFileAttributes) return JournalState::Absent;
    std::string bytes;
    Journal read;
    if ((attributes & (AttributeDirectory | AttributeReparsePoint)) ||
        !ReadWholeFile(path.c_str(), bytes, MaximumJournalBytes) || !DecodeJournal(bytes, read) ||
        !IsJournalSound(read))
        return JournalState::Unreadable;
    journal = std::move(read);
    return JournalState::Read;
}

}  // namespace package
