// How the packer stores names, paths and the title: in code page 932 where that reads back
// exactly as the updater will read it, else in UTF-8.
#pragma once

#include <optional>
#include <string>

namespace upkg {

// The stored bytes of UTF-8 `text` in code page 932, or nullopt when code page 932 cannot
// hold it or its bytes would be read back as another text.
std::optional<std::string> StoreAsCodePage932(const std::string& text);

// Code page 932 when possible, else the UTF-8 text itself; nullopt when `text` is not
// valid UTF-8 or would not read back unchanged either way.
std::optional<std::string> StoreAsTitle(const std::string& text);

// True when `name` is a file or folder name that Windows allows: no control character, none
// of < > : " / \ | ? *, not ending in a blank or a dot, and no reserved device name.
bool IsWindowsFileName(const std::string& name);

}  // namespace upkg
