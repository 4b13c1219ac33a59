#include "text/encoding.h"

namespace text {

namespace {

constexpr uint32_t ReplacementCharacter = 0xFFFD;

uint8_t ByteAt(const char* text, size_t index) {
    return static_cast<uint8_t>(text[index]);
}

bool IsContinuationByte(uint8_t byte) {
    return byte >= 0x80 && byte <= 0xBF;
}

// Number of leading one bits, which is the sequence length a UTF-8 lead byte announces.
uint32_t LeadingOnes(uint8_t byte) {
    uint32_t count = 0;
    for (uint8_t mask = 0x80; mask != 0 && (byte & mask) != 0; mask >>= 1) ++count;
    return count;
}

}  // namespace

TextEncoding DetectTextEncoding(const char* text) {
    int sequences = 0;
    size_t index = 0;
    while (ByteAt(text, index) != 0) {
        const uint8_t lead = ByteAt(text, index);
        if (lead < 0x80) {
            ++index;
            continue;
        }
        if (lead <= 0xC1) return TextEncoding::Local;
        const uint32_t length = LeadingOnes(lead);
        // The terminator is not a continuation byte, so this check also stops at the end.
        for (uint32_t i = 1; i < length; ++i) {
            if (!IsContinuationByte(ByteAt(text, index + i))) return TextEncoding::Local;
        }
        if (++sequences == 6) return TextEncoding::Utf8;
        index += length;
    }
    return sequences == 0 ? TextEncoding::Ascii : TextEncoding::Utf8;
}

bool IsLeadByte(uint8_t byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC) || byte == 0xFF;
}

DecodedCharacter DecodeUtf8Sequence(const char* text) {
    const uint8_t lead = ByteAt(text, 0);
    if (lead < 0x80) return {lead, 1};

    // Bit 6 is taken for granted, so a stray continuation byte still announces two bytes.
    uint32_t length = 2;
    for (uint8_t mask = 0x20; mask != 0 && (lead & mask) != 0; mask >>= 1) ++length;

    uint32_t code = length < 7 ? (lead & ((1u << (7 - length)) - 1)) : 0;
    for (uint32_t i = 1; i < length; ++i) {
        const uint8_t next = ByteAt(text, i);
        // A sequence cut by the terminator is no character; its partial bits could
        // otherwise pose as an ASCII separator.
        if (next == 0) return {ReplacementCharacter, i};
        code = (code << 6) | (next & 0x3Fu);
    }
    return {code, length};
}

void AppendUtf8(uint32_t code, std::string* out) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
        return;
    }
    const int extra = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static const unsigned char lead[] = {0, 0xC0, 0xE0, 0xF0};
    *out += static_cast<char>(lead[extra] | (code >> (6 * extra)));
    for (int i = extra - 1; i >= 0; --i)
        *out += static_cast<char>(0x80 | ((code >> (6 * i)) & 0x3F));
}

bool HasLoneSurrogate(const char16_t* text, size_t length) {
    for (size_t at = 0; at < length; ++at) {
        const bool high = text[at] >= 0xD800 && text[at] <= 0xDBFF;
        if (high && at + 1 < length && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF)
            ++at;
        else if (text[at] >= 0xD800 && text[at] <= 0xDFFF)
            return true;
    }
    return false;
}

uint32_t DecodeUtf8Strictly(const char* bytes, size_t length, uint32_t* code) {
    const auto* text = reinterpret_cast<const unsigned char*>(bytes);
    const unsigned char lead = text[0];
    if (lead < 0x80) {
        *code = lead;
        return 1;
    }
    const uint32_t size = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (size == 0 || size > length) return 0;
    uint32_t value = lead & (0x7F >> size);
    for (uint32_t i = 1; i < size; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (text[i] & 0x3F);
    }
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[size] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return size;
}

DecodedCharacter DecodeCharacter(const char* text, TextEncoding encoding) {
    const uint8_t first = ByteAt(text, 0);
    if (encoding == TextEncoding::Local) {
        // A lead byte right before the terminator stands alone.
        if (IsLeadByte(first) && ByteAt(text, 1) != 0) {
            return {first * 256u + ByteAt(text, 1), 2};
        }
        return {first, 1};
    }
    if (encoding != TextEncoding::Utf8) return {first, 1};

    const DecodedCharacter high = DecodeUtf8Sequence(text);
    if (high.code < 0xD800 || high.code > 0xDBFF || ByteAt(text, high.length) == 0) return high;
    const DecodedCharacter low = DecodeUtf8Sequence(text + high.length);
    if (low.code < 0xDC00 || low.code > 0xDFFF) return high;
    return {((high.code - 0xD7C0) << 10) | (low.code - 0xDC00), high.length + low.length};
}

int CompareText(const char* a, const char* b) {
    for (size_t i = 0;; ++i) {
        const uint8_t left = ByteAt(a, i);
        const uint8_t right = ByteAt(b, i);
        if (left != right) return left < right ? -1 : 1;
        if (left == 0) return 0;
    }
}

bool CopyText(char* destination, size_t capacity, const char* source) {
    size_t length = 0;
    while (source[length] != 0) {
        // Stop counting as soon as it cannot fit; the source may be far longer.
        if (++length >= capacity) return false;
    }
    if (capacity == 0) return false;
    for (size_t i = 0; i <= length; ++i) destination[i] = source[i];
    return true;
}

char* LowercaseText(char* text) {
    const TextEncoding encoding = DetectTextEncoding(text);
    char* p = text;
    while (*p != 0) {
        const uint32_t length =
            encoding == TextEncoding::Ascii ? 1 : DecodeCharacter(p, encoding).length;
        if (length == 1 && *p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + ('a' - 'A'));
        p += length;
    }
    return text;
}

std::string Lowercased(std::string text) {
    LowercaseText(&text[0]);
    return text;
}

}  // namespace text
