// Placeholder until the Windows readers (disk identify queries, adapter
// list) land: a probe that finds nothing, which gives the defined identifier
// of a machine where nothing can be read.
#include "identity/system_probe.h"

MachineProbe* systemMachineProbe() {
    static MachineProbe none;
    return &none;
}
