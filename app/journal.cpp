#include "app/journal.h"

#include "package/file.h"
#include "package/package_plan.h"

void (*FileStepHook)() = nullptr;

namespace {

bool ReadWhole(const std::wstring& path, std::string& bytes) {
    CFileDX file;
    uint64_t size = 0;
    if (!file.OpenForRead(AsUtf16(path.c_str())) || !file.GetFullSize(&size) ||
        size > MaximumJournalBytes)
        return false;
    bytes.assign(size, '\0');
    return size == 0 || file.Read(&bytes[0], static_cast<uint32_t>(size)) == size;
}

}  // namespace

std::wstring InFolder(const wchar_t* folder, const std::wstring& name) {
    return std::wstring(folder) + L"\\" + name;
}

std::wstring InFolder(const wchar_t* folder, const std::u16string& name) {
    return InFolder(folder, std::wstring(AsWide(name.c_str()), name.size()));
}

std::wstring JournalPath(const wchar_t* folder) {
    const std::string name = JournalName;
    return InFolder(folder, std::wstring(name.begin(), name.end()));
}

void FileStep() {
    if (FileStepHook != nullptr) FileStepHook();
}

uint64_t JournalSize(const Journal& journal) {
    return EncodeJournal(journal).size();
}

bool WriteJournal(const wchar_t* folder, const Journal& journal) {
    const std::string bytes = EncodeJournal(journal);
    const std::wstring path = JournalPath(folder);
    const std::wstring temporary = path + L".tmp";
    FileStep();
    // Whatever stands at the temporary name goes first, a link as a link; the file is then
    // created afresh, never opened through something planted there.
    CFileDX file;
    if (!RemoveAt(AsUtf16(temporary.c_str())) ||
        !file.OpenForWrite(AsUtf16(temporary.c_str()), CreateNew))
        return false;
    const bool written =
        WriteInPieces(file, bytes.data(), static_cast<uint32_t>(bytes.size())) && file.Flush();
    file.Close();
    FileStep();
    if (written && MoveFileOver(AsUtf16(temporary.c_str()), AsUtf16(path.c_str()))) return true;
    RemoveAt(AsUtf16(temporary.c_str()));
    return false;
}

JournalState ReadJournal(const wchar_t* folder, Journal& journal) {
    const std::wstring path = JournalPath(folder);
    const uint32_t attributes = GetAttributesAt(AsUtf16(path.c_str()));
    if (attributes == NoFileAttributes) return JournalState::Absent;
    std::string bytes;
    Journal read;
    if ((attributes & (AttributeDirectory | AttributeReparsePoint)) || !ReadWhole(path, bytes) ||
        !DecodeJournal(bytes, read) || !IsJournalSound(read))
        return JournalState::Unreadable;
    journal = std::move(read);
    return JournalState::Read;
}
