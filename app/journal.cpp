#include "app/journal.h"

#include <cstring>

#include "package/checksum.h"
#include "package/file.h"
#include "package/package_plan.h"

const wchar_t* const ListNames[2] = {L"zol.hvl", L"uninst.lst"};
void (*FileStepHook)() = nullptr;

namespace {

constexpr char JournalMagic[8] = {'U', 'P', 'D', 'J', 'R', 'N', 'L', '1'};
constexpr uint32_t MaximumJournalBytes = 1 << 22;

std::wstring JournalPath(const wchar_t* folder) {
    const std::string name = JournalName;
    return InFolder(folder, std::wstring(name.begin(), name.end()));
}

void PutNumber(std::string& bytes, uint32_t value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void PutText(std::string& bytes, const std::wstring& text) {
    PutNumber(bytes, static_cast<uint32_t>(text.size()));
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

uint64_t ChecksumOf(const std::string& bytes) {
    uint8_t state[8] = {};
    AddToChecksum(state, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    uint64_t value;
    std::memcpy(&value, state, sizeof value);
    return value;
}

// Reads the journal's fields in order; any read past the end fails all that follow.
struct Reader {
    const std::string& bytes;
    size_t at = 0;
    bool ok = true;

    uint32_t Number() {
        uint32_t value = 0;
        if (!ok || bytes.size() - at < sizeof value) return ok = false, 0;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        at += sizeof value;
        return value;
    }
    std::wstring Text() {
        const uint32_t length = Number();
        if (!ok || (bytes.size() - at) / sizeof(wchar_t) < length) return ok = false, L"";
        std::wstring text(length, L'\0');
        std::memcpy(&text[0], bytes.data() + at, length * sizeof(wchar_t));
        at += length * sizeof(wchar_t);
        return text;
    }
};

bool ReadWhole(const std::wstring& path, std::string& bytes) {
    CFileDX file;
    uint64_t size = 0;
    if (!file.OpenForRead(reinterpret_cast<const char16_t*>(path.c_str())) ||
        !file.GetFullSize(&size) || size > MaximumJournalBytes)
        return false;
    bytes.assign(size, '\0');
    return size == 0 || file.Read(&bytes[0], static_cast<uint32_t>(size)) == size;
}

}  // namespace

std::wstring InFolder(const wchar_t* folder, const std::wstring& name) {
    return std::wstring(folder) + L"\\" + name;
}

void FileStep() {
    if (FileStepHook != nullptr) FileStepHook();
}

bool WriteJournal(const wchar_t* folder, const Journal& journal) {
    std::string bytes(JournalMagic, sizeof JournalMagic);
    PutNumber(bytes, journal.committed ? 1 : 0);
    PutNumber(bytes, static_cast<uint32_t>(journal.moves.size()));
    for (const JournalMove& move : journal.moves) {
        PutNumber(bytes, move.attributes);
        PutText(bytes, move.destination);
        PutText(bytes, move.aside);
    }
    for (const std::wstring& copy : journal.listCopies) PutText(bytes, copy);
    const uint64_t checksum = ChecksumOf(bytes);
    bytes.append(reinterpret_cast<const char*>(&checksum), sizeof checksum);

    const std::wstring path = JournalPath(folder);
    const std::wstring temporary = path + L".tmp";
    FileStep();
    CFileDX file;
    if (!file.OpenForWrite(reinterpret_cast<const char16_t*>(temporary.c_str()), CreateOrTruncate))
        return false;
    const bool written =
        WriteInPieces(file, bytes.data(), static_cast<uint32_t>(bytes.size())) && file.Flush();
    file.Close();
    FileStep();
    if (written && MoveFileExW(temporary.c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary.c_str());
    return false;
}

JournalState ReadJournal(const wchar_t* folder, Journal& journal) {
    const std::wstring path = JournalPath(folder);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return JournalState::Absent;
    std::string bytes;
    if (!ReadWhole(path, bytes) || bytes.size() < sizeof JournalMagic + sizeof(uint64_t) ||
        std::memcmp(bytes.data(), JournalMagic, sizeof JournalMagic) != 0)
        return JournalState::Unreadable;
    uint64_t checksum;
    std::memcpy(&checksum, bytes.data() + bytes.size() - sizeof checksum, sizeof checksum);
    bytes.resize(bytes.size() - sizeof checksum);
    if (ChecksumOf(bytes) != checksum) return JournalState::Unreadable;

    Reader reader{bytes, sizeof JournalMagic};
    Journal read;
    read.committed = reader.Number() == 1;
    const uint32_t count = reader.Number();
    for (uint32_t i = 0; reader.ok && i < count; ++i) {
        JournalMove move;
        move.attributes = reader.Number();
        move.destination = reader.Text();
        move.aside = reader.Text();
        read.moves.push_back(std::move(move));
    }
    for (std::wstring& copy : read.listCopies) copy = reader.Text();
    if (!reader.ok || reader.at != bytes.size()) return JournalState::Unreadable;
    journal = std::move(read);
    return JournalState::Read;
}
