#include "text/convert.h"

#include <cstring>

#include "text/codepage.h"
#include "text/encoding.h"

namespace text {

namespace {

unsigned SourceCodePage(const char* text) {
    // Ascii text is read as UTF-8; both agree on it.
    return DetectTextEncoding(text) == TextEncoding::Local ? CodePage932 : CodePageUtf8;
}

unsigned TargetCodePage(ConversionMode mode) {
    return mode == ConversionMode::ToCodePage932 ? CodePage932 : CodePageUtf8;
}

size_t WideLength(const char16_t* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

// The converters see the text without its terminator, and the terminator is added here:
// a code-page-932 lead byte or a cut UTF-8 sequence at the end must not swallow it.
// An empty text converts to a lone terminator without asking the converter, which would
// take an empty input as an error.

template <typename Output, typename Input, typename Convert>
std::optional<std::basic_string<Output>> ConvertAllocating(const Input* text, size_t length,
                                                           Convert convert) {
    std::basic_string<Output> result;
    if (length == 0) return result;
    const size_t measure = convert(text, length, nullptr, 0);
    if (measure == 0) return std::nullopt;
    result.resize(measure);
    if (convert(text, length, &result[0], measure) != measure) return std::nullopt;
    return result;
}

template <typename Output, typename Input, typename Convert>
bool ConvertInto(Output* destination, size_t capacity, const Input* text, size_t length,
                 Convert convert) {
    if (capacity == 0) return false;
    if (length == 0) {
        destination[0] = 0;
        return true;
    }
    // The converter writes nothing unless the whole result fits.
    const size_t measure = convert(text, length, destination, capacity - 1);
    if (measure == 0 || measure > capacity - 1) return false;
    destination[measure] = 0;
    return true;
}

}  // namespace

std::optional<std::u16string> NarrowToWide(const char* text) {
    const unsigned codePage = SourceCodePage(text);
    return ConvertAllocating<char16_t>(
        text, std::strlen(text), [codePage](const char* in, size_t n, char16_t* out, size_t c) {
            return CodePageToWide(codePage, in, n, out, c);
        });
}

bool NarrowToWide(char16_t* destination, size_t capacity, const char* text) {
    const unsigned codePage = SourceCodePage(text);
    return ConvertInto(destination, capacity, text, std::strlen(text),
                       [codePage](const char* in, size_t n, char16_t* out, size_t c) {
                           return CodePageToWide(codePage, in, n, out, c);
                       });
}

std::optional<std::string> WideToNarrow(const char16_t* text, ConversionMode mode) {
    const unsigned codePage = TargetCodePage(mode);
    return ConvertAllocating<char>(text, WideLength(text),
                                   [codePage](const char16_t* in, size_t n, char* out, size_t c) {
                                       return WideToCodePage(codePage, in, n, out, c);
                                   });
}

bool WideToNarrow(char* destination, size_t capacity, const char16_t* text, ConversionMode mode) {
    const unsigned codePage = TargetCodePage(mode);
    return ConvertInto(destination, capacity, text, WideLength(text),
                       [codePage](const char16_t* in, size_t n, char* out, size_t c) {
                           return WideToCodePage(codePage, in, n, out, c);
                       });
}

namespace {

bool NeedsConversion(const char* text, ConversionMode mode) {
    const TextEncoding encoding = DetectTextEncoding(text);
    if (encoding == TextEncoding::Ascii) return false;
    return (encoding == TextEncoding::Utf8 ? CodePageUtf8 : CodePage932) != TargetCodePage(mode);
}

}  // namespace

std::optional<std::string> ConvertText(const char* text, ConversionMode mode) {
    if (!NeedsConversion(text, mode)) return std::string(text);
    const std::optional<std::u16string> wide = NarrowToWide(text);
    if (!wide) return std::nullopt;
    return WideToNarrow(wide->c_str(), mode);
}

bool ConvertText(char* destination, size_t capacity, const char* text, ConversionMode mode) {
    if (!NeedsConversion(text, mode)) return CopyText(destination, capacity, text);
    const std::optional<std::u16string> wide = NarrowToWide(text);
    if (!wide) return false;
    return WideToNarrow(destination, capacity, wide->c_str(), mode);
}

}  // namespace text
