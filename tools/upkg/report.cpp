#include "tools/upkg/report.h"

#include <cstdio>

#include "text/encoding.h"
#include "tools/upkg/progress.h"

namespace upkg {

int Fail(int code, const std::string& message) {
    ClearProgressLine();
    std::fflush(stdout);
    std::fprintf(stderr, "upkg: %s\n", message.c_str());
    return code;
}

namespace {

void AppendEscape(const char* format, uint32_t value, std::string& out) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, format, value);
    out += escaped;
}

// Appends `code`, or its escape when it is a control character that would steer a
// terminal: C0 and DEL, and C1, which some terminals take as the start of a sequence.
void AppendShown(uint32_t code, bool controls, std::string& out) {
    static const char Named[] = "abtnvfr";  // \a (7) to \r (13), as tar writes them
    if (controls && code >= 7 && code <= 13) {
        out += '\\';
        out += Named[code - 7];
    } else if (controls && (code < 0x20 || code == 0x7F)) {
        AppendEscape("\\x%02x", code, out);
    } else if (controls && code >= 0x80 && code < 0xA0) {
        AppendEscape("\\u%04x", code, out);
    } else {
        text::AppendUtf8(code, &out);
    }
}

// `name` with each byte that is not part of UTF-8 text as \xNN, and with control
// characters escaped when `controls`.
std::string ShownText(const std::string& name, bool controls) {
    std::string out;
    for (size_t at = 0; at < name.size();) {
        uint32_t code;
        const uint32_t length = text::DecodeUtf8Strictly(name.data() + at, name.size() - at, &code);
        if (length != 0) {
            AppendShown(code, controls, out);
            at += length;
        } else {
            AppendEscape("\\x%02x", static_cast<unsigned char>(name[at++]), out);
        }
    }
    return out;
}

}  // namespace

std::string Shown(const std::string& name) {
    return ShownText(name, true);
}

std::string Shown(const std::filesystem::path& path) {
    const std::u16string wide = package::FromSystemPath(path);
    std::string out;
    for (size_t at = 0; at < wide.size(); ++at) {
        uint32_t code = wide[at];
        const bool high = code >= 0xD800 && code <= 0xDBFF;
        if (high && at + 1 < wide.size() && wide[at + 1] >= 0xDC00 && wide[at + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[++at] - 0xDC00);
        } else if (code >= 0xDC80 && code <= 0xDCFF) {  // a byte that was not UTF-8
            AppendEscape("\\x%02x", code - 0xDC00, out);
            continue;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            AppendEscape("\\u%04x", code, out);
            continue;
        }
        AppendShown(code, true, out);
    }
    return out;
}

std::string Quoted(const std::filesystem::path& path) {
    return "\"" + Shown(path) + "\"";
}

std::string Quoted(const std::string& text) {
    return "\"" + Shown(text) + "\"";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : ShownText(text, false)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string ReadProblem(const package::CFileDX& file) {
    return file.LastError() != 0 ? file.LastErrorText() : "it ended before its size said";
}

}  // namespace upkg
