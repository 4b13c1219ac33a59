// Path splitting on arbitrary bytes. The first byte picks which parts are requested;
// the rest is the path.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "text/convert.h"
#include "text/encoding.h"
#include "text/path.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool HasSeparator(const std::string& text) {
    return text.find_first_of("\\/") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned requested = data[0];
    std::vector<char> path(data + 1, data + size);
    path.push_back('\0');

    // Exactly PathBufferLength bytes each, so a write past the end is caught.
    std::vector<std::vector<char>> buffers(4, std::vector<char>(PathBufferLength, 'Z'));
    SplitPathUtf8(buffers[0].data(), buffers[1].data(), buffers[2].data(), buffers[3].data(),
                  path.data());
    std::string parts[4];
    for (int i = 0; i < 4; ++i) {
        Check(std::memchr(buffers[i].data(), 0, PathBufferLength) != nullptr);
        parts[i] = buffers[i].data();
    }
    const std::string& drive = parts[0];
    const std::string& folder = parts[1];
    const std::string& name = parts[2];
    const std::string& extension = parts[3];

    const std::string joined = drive + folder + name + extension;
    if (!joined.empty()) {
        // Nothing lost, nothing added: the parts are the path's UTF-8 form, cut in four.
        const std::optional<std::u16string> wide = NarrowToWide(path.data());
        Check(wide.has_value());
        Check(WideToNarrow(wide->c_str(), ToUtf8) == joined);
    }
    Check(drive.empty() || (drive.size() >= 2 && drive.back() == ':'));
    Check(folder.empty() || folder.back() == '\\' || folder.back() == '/');
    Check(!HasSeparator(name) && !HasSeparator(extension));
    Check(extension.empty() ||
          (extension[0] == '.' && extension.find('.', 1) == std::string::npos));

    // Any subset of the parts must agree with the full split whenever that succeeded.
    std::vector<char> subset[4];
    char* outputs[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (requested & (1u << i)) {
            subset[i].assign(PathBufferLength, 'Z');
            outputs[i] = subset[i].data();
        }
    }
    SplitPathUtf8(outputs[0], outputs[1], outputs[2], outputs[3], path.data());
    for (int i = 0; i < 4; ++i) {
        if (outputs[i] == nullptr) continue;
        Check(std::memchr(outputs[i], 0, PathBufferLength) != nullptr);
        if (!joined.empty()) Check(parts[i] == outputs[i]);
    }
    return 0;
}
