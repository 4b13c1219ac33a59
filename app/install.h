// Installing the update that travels inside the program file: every entry is copied to a
// temporary file beside its final place and verified, and only when all arrived intact are
// the files put in place and the hash list and uninstall list updated.
#pragma once

#include "package/result_code.h"

namespace updater {

// Installs the running program's own package into `installFolder`, driving the controls of
// ProgressDialogWindow (any may be missing) and pumping messages between units of work.
package::ResultCode InstallUpdate(const wchar_t* installFolder);

// The same for the program file at `programPath`.
package::ResultCode InstallUpdateFrom(const wchar_t* programPath, const wchar_t* installFolder);

}  // namespace updater
