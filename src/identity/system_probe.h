// The platform's own machine probe, installed by start-up with
// setMachineProbe(systemMachineProbe()).
#pragma once

#include "platform/machine_probe.h"

// A process-wide probe for the running platform; lives to the end of the
// process.
MachineProbe* systemMachineProbe();
