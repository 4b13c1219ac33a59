#include "tools/upkg/interrupt_cleanup.h"

void ArmInterruptCleanup(const HeldFolder&, const std::u16string&) {}

void DisarmInterruptCleanup() {}
