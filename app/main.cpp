// The updater program: everything happens in StartUpdater.
#include <cstdlib>

#include "app/start.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return updater::StartUpdater(instance, showCommand);
}

// The library's default terminate handler prints a demangled type name to a console this
// program does not have, and brings a demangler that would take a sixth of the space
// before the package offset.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx
