// Code-page conversion through iconv. iconv stops at the first invalid or unmappable
// character, where Windows substitutes and goes on; the loop below goes on too: it writes
// a substitute (U+FFFD, or '?' in code page 932), skips the offending input, continues.
// glibc's code page 932 converter also drops the tag characters U+E0000..U+E007F without
// a word, where Windows substitutes: UTF-16 input goes over one character at a time, and
// a character that comes out as nothing gets a substitute too.
#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>

#include "text/codepage.h"

namespace text {

namespace {

// char16_t buffers are handed to iconv as bytes, so the UTF-16 side uses host order.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* Utf16Name = "UTF-16BE";
#else
constexpr const char* Utf16Name = "UTF-16LE";
#endif

const char* CodePageName(unsigned codePage) {
    switch (codePage) {
        case CodePage932:
            return "CP932";
        case CodePageUtf8:
            return "UTF-8";
        default:
            return nullptr;
    }
}

struct Substitute {
    const char* bytes;
    size_t size;
};

const char16_t ReplacementUnit = 0xFFFD;
const Substitute ToWideSubstitute = {reinterpret_cast<const char*>(&ReplacementUnit), 2};
const Substitute Cp932Substitute = {"?", 1};
const Substitute Utf8Substitute = {"\xEF\xBF\xBD", 3};

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// How the input is cut for iconv: `piece` bytes are handed over at once, and `skip` bytes
// are passed over after iconv refused the character at `input`.
struct Stepping {
    size_t (*piece)(const char* input, size_t remaining);
    size_t (*skip)(const char* input, size_t remaining);
};

size_t WholeRest(const char*, size_t remaining) {
    return remaining;
}
size_t OneByte(const char*, size_t) {
    return 1;
}
size_t Utf16Character(const char* input, size_t remaining) {
    // One substitute per character: a well-formed pair that has no mapping goes as a whole.
    if (remaining >= 4) {
        char16_t units[2];
        std::memcpy(units, input, sizeof units);
        if (IsHighSurrogate(units[0]) && IsLowSurrogate(units[1])) return 4;
    }
    return remaining >= 2 ? 2 : remaining;
}

// The converters from bytes were not seen to drop anything (every UTF-8 scalar value, every
// one- and two-byte sequence of code page 932), so byte input goes over in one piece.
const Stepping FromBytes = {WholeRest, OneByte};
const Stepping FromUtf16 = {Utf16Character, Utf16Character};

// Runs the whole input through `handle`. With `output` null it only counts the bytes,
// through a scratch buffer; otherwise `capacity` must hold them all. Returns the byte
// count, or SIZE_MAX when iconv fails in a way substitution cannot mend.
size_t Run(iconv_t handle, const char* input, size_t length, char* output, size_t capacity,
           const Substitute& substitute, const Stepping& stepping) {
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
    char scratch[512];
    const bool counting = output == nullptr;
    size_t counted = 0;
    char* in = const_cast<char*>(input);
    size_t inLeft = length;
    char* out = counting ? scratch : output;
    size_t outLeft = counting ? sizeof scratch : capacity;

    auto produced = [&] {
        return counting ? counted + (sizeof scratch - outLeft) : capacity - outLeft;
    };
    // Makes room when counting; when writing, running out of room is a failure.
    auto makeRoom = [&] {
        if (!counting) return false;
        counted += sizeof scratch - outLeft;
        out = scratch;
        outLeft = sizeof scratch;
        return true;
    };
    auto writeSubstitute = [&] {
        if (outLeft < substitute.size && !makeRoom()) return false;
        std::memcpy(out, substitute.bytes, substitute.size);
        out += substitute.size;
        outLeft -= substitute.size;
        return true;
    };

    while (inLeft != 0) {
        const size_t before = produced();
        size_t pieceLeft = stepping.piece(in, inLeft);
        bool refused = false;
        while (pieceLeft != 0 && !refused) {
            const size_t offered = pieceLeft;
            const size_t result = iconv(handle, &in, &pieceLeft, &out, &outLeft);
            inLeft -= offered - pieceLeft;
            if (result != static_cast<size_t>(-1)) continue;
            if (errno == E2BIG) {
                if (!makeRoom()) return SIZE_MAX;
            } else if (errno == EILSEQ || errno == EINVAL) {
                refused = true;
            } else {
                return SIZE_MAX;
            }
        }
        if (refused) {
            const size_t skipped = stepping.skip(in, inLeft);
            in += skipped;
            inLeft -= skipped;
        }
        // A refused piece, or one taken whole that came out as nothing.
        if ((refused || produced() == before) && !writeSubstitute()) return SIZE_MAX;
    }
    // The encodings in use keep no shift state, but a converter may still hold output back.
    while (iconv(handle, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1)) {
        if (errno != E2BIG || !makeRoom()) return SIZE_MAX;
    }
    return produced();
}

// Measures, then converts only when the whole result fits. Sizes are in bytes.
size_t Convert(const char* to, const char* from, const char* input, size_t length, char* output,
               size_t capacity, const Substitute& substitute, const Stepping& stepping) {
    if (to == nullptr || from == nullptr || length == 0) return 0;
    const iconv_t handle = iconv_open(to, from);
    if (handle == reinterpret_cast<iconv_t>(-1)) return 0;
    size_t needed = Run(handle, input, length, nullptr, 0, substitute, stepping);
    if (needed == SIZE_MAX) {
        needed = 0;
    } else if (output != nullptr && needed <= capacity) {
        if (Run(handle, input, length, output, needed, substitute, stepping) != needed) needed = 0;
    }
    iconv_close(handle);
    return needed;
}

}  // namespace

size_t CodePageToWide(unsigned codePage, const char* input, size_t length, char16_t* output,
                      size_t capacity) {
    // A capacity beyond any real buffer is as good as unlimited; keep the byte count finite.
    const size_t byteCapacity =
        capacity > SIZE_MAX / sizeof(char16_t) ? SIZE_MAX : capacity * sizeof(char16_t);
    const size_t bytes =
        Convert(Utf16Name, CodePageName(codePage), input, length, reinterpret_cast<char*>(output),
                byteCapacity, ToWideSubstitute, FromBytes);
    return bytes / sizeof(char16_t);
}

size_t WideToCodePage(unsigned codePage, const char16_t* input, size_t length, char* output,
                      size_t capacity) {
    const Substitute& substitute = codePage == CodePage932 ? Cp932Substitute : Utf8Substitute;
    return Convert(CodePageName(codePage), Utf16Name, reinterpret_cast<const char*>(input),
                   length * sizeof(char16_t), output, capacity, substitute, FromUtf16);
}

}  // namespace text
