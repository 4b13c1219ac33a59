#include "package/journal_format.h"

#include <cstring>

#include "package/archive_format.h"
#include "package/checksum.h"
#include "package/hash_list.h"
#include "package/install_path.h"
#include "package/package_plan.h"
#include "text/convert.h"
#include "text/encoding.h"

namespace package {

const std::u16string ListNames[2] = {Utf16Name(HashListName), Utf16Name(UninstallListName)};

namespace {

// The earlier format wrote "committed" (0 or 1) where this one writes the stage.
constexpr char EarlierMagic[8] = {'U', 'P', 'D', 'J', 'R', 'N', 'L', '1'};
constexpr char JournalMagic[8] = {'U', 'P', 'D', 'J', 'R', 'N', 'L', '2'};
constexpr uint32_t AttributeNormal = 0x80;

void PutNumber(std::string& bytes, uint32_t value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void PutText(std::string& bytes, const std::u16string& text) {
    PutNumber(bytes, static_cast<uint32_t>(text.size()));
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
}

uint64_t ChecksumOf(const char* bytes, size_t size) {
    uint8_t state[8] = {};
    AddToChecksum(state, reinterpret_cast<const uint8_t*>(bytes), size);
    uint64_t value;
    std::memcpy(&value, state, sizeof value);
    return value;
}

// Reads the journal's fields in order; any read past the end fails all that follow.
struct Reader {
    const std::string& bytes;
    size_t end;
    size_t at = sizeof JournalMagic;
    bool ok = true;

    uint32_t Number() {
        uint32_t value = 0;
        if (!ok || end - at < sizeof value) return ok = false, 0;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        at += sizeof value;
        return value;
    }
    std::u16string Text() {
        const uint32_t length = Number();
        if (!ok || (end - at) / sizeof(char16_t) < length) return ok = false, u"";
        std::u16string text(length, u'\0');
        if (length != 0) std::memcpy(&text[0], bytes.data() + at, length * sizeof(char16_t));
        at += length * sizeof(char16_t);
        return text;
    }
};

std::u16string Decimal(uint32_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

// Takes a run of 1 to 10 decimal digits from `name` at `at`.
bool TakeDigits(const std::u16string& name, size_t& at) {
    const size_t start = at;
    while (at < name.size() && at - start < 10 && name[at] >= u'0' && name[at] <= u'9') ++at;
    return at > start;
}

// True when `name` is AsideName(of, some process, some attempt).
bool IsAsideOf(const std::u16string& name, const std::u16string& of) {
    if (name.size() <= of.size() || name.compare(0, of.size(), of) != 0) return false;
    size_t at = of.size();
    auto take = [&](const char16_t* text) {
        const size_t length = std::char_traits<char16_t>::length(text);
        if (name.compare(at, length, text) != 0) return false;
        at += length;
        return true;
    };
    if (!take(u".") || !TakeDigits(name, at)) return false;
    if (take(u".old")) return at == name.size();
    return take(u".") && TakeDigits(name, at) && take(u".old") && at == name.size();
}

}  // namespace

std::u16string AsideName(const std::u16string& name, uint32_t process, uint32_t attempt) {
    return name + u"." + Decimal(process) + (attempt == 0 ? u"" : u"." + Decimal(attempt)) +
           u".old";
}

std::string EncodeJournal(const Journal& journal) {
    std::string bytes(JournalMagic, sizeof JournalMagic);
    PutNumber(bytes, static_cast<uint32_t>(journal.stage));
    PutNumber(bytes, static_cast<uint32_t>(journal.moves.size()));
    for (const JournalMove& move : journal.moves) {
        PutNumber(bytes, move.attributes);
        PutText(bytes, move.destination);
        PutText(bytes, move.aside);
    }
    for (const std::u16string& copy : journal.listCopies) PutText(bytes, copy);
    const uint64_t checksum = ChecksumOf(bytes.data(), bytes.size());
    bytes.append(reinterpret_cast<const char*>(&checksum), sizeof checksum);
    return bytes;
}

bool DecodeJournal(const std::string& bytes, Journal& journal) {
    if (bytes.size() < sizeof JournalMagic + sizeof(uint64_t) || bytes.size() > MaximumJournalBytes)
        return false;
    const bool earlier = std::memcmp(bytes.data(), EarlierMagic, sizeof EarlierMagic) == 0;
    if (!earlier && std::memcmp(bytes.data(), JournalMagic, sizeof JournalMagic) != 0) return false;
    const size_t end = bytes.size() - sizeof(uint64_t);
    uint64_t checksum;
    std::memcpy(&checksum, bytes.data() + end, sizeof checksum);
    if (ChecksumOf(bytes.data(), end) != checksum) return false;

    Reader reader{bytes, end};
    Journal read;
    const uint32_t stage = reader.Number();
    // The earlier format wrote its journal once moving could begin: no Planned stage.
    if (earlier && stage > 1) return false;
    if (stage > static_cast<uint32_t>(JournalStage::Committed)) return false;
    read.stage = earlier ? (stage == 1 ? JournalStage::Committed : JournalStage::Moving)
                         : static_cast<JournalStage>(stage);
    const uint32_t count = reader.Number();
    for (uint32_t i = 0; reader.ok && i < count; ++i) {
        JournalMove move;
        // The earlier format kept every attribute; only these are ever put back.
        move.attributes = reader.Number() & (earlier ? KeptAttributes : 0xFFFFFFFF);
        move.destination = reader.Text();
        move.aside = reader.Text();
        read.moves.push_back(std::move(move));
    }
    for (std::u16string& copy : read.listCopies) copy = reader.Text();
    if (!reader.ok || reader.at != end) return false;
    journal = std::move(read);
    return true;
}

bool IsJournalSound(const Journal& journal) {
    if (journal.moves.size() > MaximumEntries) return false;
    // Every name the update writes, each with its temporary file, as a package's entries are.
    std::vector<std::string> written;
    auto add = [&written](const std::u16string& name) {
        std::optional<std::string> utf8 =
            text::WideToNarrow(name.c_str(), text::ConversionMode::ToUtf8);
        if (!utf8 || utf8->size() != std::strlen(utf8->c_str()) ||
            !IsSafeInstallPath(utf8->c_str()))
            return false;
        written.push_back(std::move(*utf8));
        return true;
    };
    for (const JournalMove& move : journal.moves) {
        if (!add(move.destination)) return false;
        // The update's hash list is read, never installed.
        if (text::Lowercased(written.back()) == HashListName) return false;
        if (move.aside.empty()) continue;
        if (!IsAsideOf(move.aside, move.destination) || !add(move.aside) ||
            (move.attributes & ~(KeptAttributes | AttributeNormal)) != 0)
            return false;
    }
    for (int i = 0; i < 2; ++i)
        if (!journal.listCopies[i].empty() &&
            (!IsAsideOf(journal.listCopies[i], ListNames[i]) || !add(journal.listCopies[i])))
            return false;
    return !FindWriteCollision(written);
}

}  // namespace package
