// Classification, stepping and lowercasing on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "text/encoding.h"

using namespace text;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Steps through `text`: every step takes at least one byte and lands exactly on the
// terminator, never past it.
void CheckStepping(const char* text, size_t length, TextEncoding encoding) {
    size_t position = 0;
    while (position < length) {
        const DecodedCharacter character = DecodeCharacter(text + position, encoding);
        Check(character.length >= 1 && position + character.length <= length);
        position += character.length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly sized, so reading past the terminator is caught.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    const size_t length = std::strlen(text.data());

    bool high = false;
    for (size_t i = 0; i < length; ++i) high |= static_cast<uint8_t>(text[i]) >= 0x80;
    const TextEncoding detected = DetectTextEncoding(text.data());
    Check((detected == TextEncoding::Ascii) == !high);

    for (TextEncoding encoding : {TextEncoding::Local, TextEncoding::Utf8, TextEncoding::Ascii})
        CheckStepping(text.data(), length, encoding);

    std::vector<char> lower(text);
    Check(LowercaseText(lower.data()) == lower.data());
    Check(std::strlen(lower.data()) == length);
    Check(DetectTextEncoding(lower.data()) == detected);
    for (size_t i = 0; i < length; ++i) {
        const uint8_t before = static_cast<uint8_t>(text[i]);
        const uint8_t after = static_cast<uint8_t>(lower[i]);
        const bool folded = before >= 'A' && before <= 'Z' && after == before + 0x20;
        Check(after == before || folded);
        if (detected == TextEncoding::Ascii) Check(!(after >= 'A' && after <= 'Z'));
    }
    std::vector<char> again(lower);
    LowercaseText(again.data());
    Check(again == lower);
    return 0;
}
