#include "tools/upkg/stored_text.h"

#include "package/install_path.h"
#include "text/convert.h"
#include "text/encoding.h"

namespace upkg {

namespace {

// UTF-16 as the updater sees stored bytes.
std::optional<std::u16string> AsRead(const std::string& stored) {
    return text::NarrowToWide(stored.c_str());
}

// Valid UTF-8 only: the updater classifies text itself, and a broken sequence would be
// taken for code page 932.
std::optional<std::u16string> FromUtf8(const std::string& text) {
    if (text.find('\0') != std::string::npos) return std::nullopt;
    if (text::DetectTextEncoding(text.c_str()) == text::TextEncoding::Local) return std::nullopt;
    std::optional<std::u16string> wide = text::NarrowToWide(text.c_str());
    if (!wide) return std::nullopt;
    std::optional<std::string> back =
        text::WideToNarrow(wide->c_str(), text::ConversionMode::ToUtf8);
    if (!back || *back != text) return std::nullopt;
    return wide;
}

}  // namespace

std::optional<std::string> StoreAsCodePage932(const std::string& text) {
    std::optional<std::u16string> wide = FromUtf8(text);
    if (!wide) return std::nullopt;
    std::optional<std::string> stored =
        text::WideToNarrow(wide->c_str(), text::ConversionMode::ToCodePage932);
    if (!stored || AsRead(*stored) != wide) return std::nullopt;
    return stored;
}

std::optional<std::string> StoreAsTitle(const std::string& text) {
    if (std::optional<std::string> local = StoreAsCodePage932(text)) return local;
    std::optional<std::u16string> wide = FromUtf8(text);
    if (!wide || AsRead(text) != wide) return std::nullopt;
    return text;
}

bool IsWindowsFileName(const std::string& name) {
    if (name.empty() || name.back() == ' ' || name.back() == '.') return false;
    for (unsigned char c : name)
        if (c < 0x20 || std::string("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string::npos)
            return false;
    return package::IsSafeInstallPath(name.c_str());
}

}  // namespace upkg
