#include "tools/upkg/report.h"

#include <cstdio>

#include "text/encoding.h"

int Fail(int code, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "upkg: %s\n", message.c_str());
    return code;
}

std::string Shown(const std::string& name) {
    std::string out;
    for (size_t at = 0; at < name.size();) {
        uint32_t code;
        const uint32_t length = DecodeUtf8Strictly(name.data() + at, name.size() - at, &code);
        if (length != 0) {
            out.append(name, at, length);
            at += length;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(name[at++]));
        out += escaped;
    }
    return out;
}

std::string Shown(const std::filesystem::path& path) {
    const std::u16string wide = FromSystemPath(path);
    std::string out;
    for (size_t at = 0; at < wide.size(); ++at) {
        uint32_t code = wide[at];
        const bool high = code >= 0xD800 && code <= 0xDBFF;
        if (high && at + 1 < wide.size() && wide[at + 1] >= 0xDC00 && wide[at + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[++at] - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            char escaped[8];
            const bool byte = code >= 0xDC80 && code <= 0xDCFF;  // a byte that was not UTF-8
            std::snprintf(escaped, sizeof escaped, byte ? "\\x%02x" : "\\u%04x",
                          byte ? code - 0xDC00 : code);
            out += escaped;
            continue;
        }
        AppendUtf8(code, &out);
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
    for (unsigned char c : Shown(text)) {
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

std::string ReadProblem(const CFileDX& file) {
    return file.LastError() != 0 ? file.LastErrorText() : "it ended before its size said";
}
