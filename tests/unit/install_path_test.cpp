#include "package/install_path.h"

#include <gtest/gtest.h>

#include <vector>

using namespace package;

TEST(InstallPathTest, OnlyRelativePathsInsideTheFolderAreSafe) {
    const std::vector<const char*> safe[] = {
        {"data01000.arc", "Archive\\data01000.arc", "Archive/Sub/x.arc", ".hidden"},
        {"..data", "a..b\\c", "CONSOLE.txt", "COM0", "LPT10", "\xE3\x83\x87\\\xE3\x83\xBC.arc"},
    };
    const std::vector<const char*> refused[] = {
        {"", "\\Windows\\x.dll", "/etc/passwd", "\\\\server\\share\\x"},  // not relative
        {"C:\\x", "C:x", "a:b", "stream.arc:alt"},                        // drives and streams
        {"..\\x", "../x", "Archive\\..\\..\\x", "Archive/../x", "a\\.\\b", "./b"},
        {"a\\\\b", "a//b", "Archive\\", "Archive/"},                           // empty components
        {"CON", "con.txt", "Archive\\nul", "aux.tar.gz", "Com1", "lpt9.log"},  // devices
        {"x.arc.", "Sub \\x.arc", "com7 .x"},  // a component ending in a dot or a space
        {"a<b", "a>b", "a\"b", "Sub\\a|b", "a?", "*.arc", "a\tb", "\x1f"},  // not in names
    };
    for (const auto& paths : safe)
        for (const char* path : paths) EXPECT_TRUE(IsSafeInstallPath(path)) << path;
    for (const auto& paths : refused)
        for (const char* path : paths) EXPECT_FALSE(IsSafeInstallPath(path)) << path;
}
