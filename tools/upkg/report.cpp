#include "tools/upkg/report.h"

#include <cstdio>

int Fail(int code, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "upkg: %s\n", message.c_str());
    return code;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
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
