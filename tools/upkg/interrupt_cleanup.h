// The removal of the packer's temporary file when a signal interrupts it.
#pragma once

#include <string>

#include "package/held_folder.h"

namespace upkg {

// Until DisarmInterruptCleanup, a signal that ends the process (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGPIPE) first removes the file `name` in `folder`, then ends the process by that
// signal, as tar does; one file at a time, and the folder must stay held meanwhile. A signal
// the caller set to be ignored stays ignored. Windows ends a program at Ctrl-C while the file
// is open and not shared, so there the temporary file stays; its final name is never touched
// because only a complete file is moved there.
void ArmInterruptCleanup(const package::HeldFolder& folder, const std::u16string& name);
void DisarmInterruptCleanup();

}  // namespace upkg
