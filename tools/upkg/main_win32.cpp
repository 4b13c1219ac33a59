#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/win32.h"
#include "text/convert.h"
#include "tools/upkg/commands.h"

// Arguments arrive as UTF-16 and leave as UTF-8; output is UTF-8 with LF line ends, as on
// Linux, so that scripts read the same bytes from either build.
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(WideToNarrow(AsUtf16(argv[i]), ToUtf8).value_or(""));
    return RunUpkg(arguments);
}
