#include "tools/upkg/interrupt_cleanup.h"

namespace upkg {

void ArmInterruptCleanup(const package::HeldFolder&, const std::u16string&) {}

void DisarmInterruptCleanup() {}

}  // namespace upkg
