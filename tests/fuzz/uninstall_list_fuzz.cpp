#include <cstdlib>
#include <string>

#include "package/uninstall_list.h"

using namespace package;

// Parsing what was written gives the same lists: the written form is a fixed point.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    UninstallList lists;
    ParseUninstallList(text.c_str(), lists);
    const std::string written = FormatUninstallList(lists);
    if (written.empty() || written.back() != '\0') abort();

    UninstallList again;
    ParseUninstallList(written.c_str(), again);
    if (FormatUninstallList(again) != written) abort();
    for (const auto* list : {&lists.fileLines, &lists.dollarLines})
        for (const UninstallEntry& entry : *list)
            if (entry.text.empty() || entry.text.find_first_of("\r\n") != std::string::npos ||
                entry.text[0] == ' ' || entry.text[0] == '\t')
                abort();
    return 0;
}
