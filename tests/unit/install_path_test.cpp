#include "package/install_path.h"

#include <gtest/gtest.h>

TEST(InstallPathTest, RelativePathsInsideTheFolderAreSafe) {
    for (const char* path :
         {"data01000.arc", "Archive\\data01000.arc", "Archive/Sub/x.arc", "..data", "a..b\\c",
          ".hidden", "CONSOLE.txt", "COM0", "LPT10", "\xE3\x83\x87\\\xE3\x83\xBC.arc"})
        EXPECT_TRUE(IsSafeInstallPath(path)) << path;
}

TEST(InstallPathTest, PathsThatLeaveTheFolderOrNameDevicesAreRefused) {
    for (const char* path : {"",
                             "\\Windows\\x.dll",
                             "/etc/passwd",
                             "C:\\x",
                             "C:x",
                             "a:b",
                             "stream.arc:alt",
                             "..\\x",
                             "../x",
                             "Archive\\..\\..\\x",
                             "Archive/../x",
                             "a\\.\\b",
                             "./b",
                             "a\\\\b",
                             "a//b",
                             "Archive\\",
                             "Archive/",
                             "\\\\server\\share\\x",
                             "CON",
                             "con.txt",
                             "Archive\\nul",
                             "aux.tar.gz",
                             "Com1",
                             "lpt9.log",
                             "x.arc.",
                             "Sub \\x.arc",
                             "com7 .x"})
        EXPECT_FALSE(IsSafeInstallPath(path)) << path;
}
