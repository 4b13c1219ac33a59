#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>

#include "platform/win32.h"
#include "text/convert.h"
#include "text/encoding.h"
#include "tools/upkg/commands.h"

// Arguments arrive as UTF-16 and leave as UTF-8; output is UTF-8 with LF line ends, as on
// Linux, so that scripts read the same bytes from either build.
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdin), _O_BINARY);  // checksum reads files through it
    _setmode(_fileno(stdout), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        std::optional<std::string> argument =
            text::WideToNarrow(AsUtf16(argv[i]), text::ConversionMode::ToUtf8);
        // Converted, a lone surrogate would name another file, or none.
        if (text::HasLoneSurrogate(AsUtf16(argv[i]), wcslen(argv[i])) || !argument) {
            std::fprintf(stderr,
                         "upkg: argument %d is not valid Unicode (it holds a lone "
                         "surrogate); such a name cannot be used\n",
                         i);
            return upkg::ExitUsage;
        }
        arguments.push_back(std::move(*argument));
    }
    return upkg::RunUpkg(arguments);
}
