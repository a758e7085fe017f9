#include "platform/machine_probe.h"

namespace {
MachineProbe nullProbe;
MachineProbe* current = &nullProbe;
}  // namespace

MachineProbe& machineProbe() {
    return *current;
}

void setMachineProbe(MachineProbe* probe) {
    current = probe ? probe : &nullProbe;
}
