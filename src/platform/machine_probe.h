// The machine-probe seam: the raw hardware facts the machine identifier is
// folded from.  Implemented per platform (src/identity/linux/, win32/), and
// by fixed-value doubles in tests.  The defaults find nothing, so the core
// never tests for absence.  Called on the UI thread during start-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One disk's identification texts as the drive reports them (8-bit bytes,
// serial trimmed of trailing blanks; leading blanks kept).
struct DiskIdentity {
    std::string serial;
    std::string model;
};

struct MachineProbe {
    virtual ~MachineProbe() = default;
    // Fixed disks in the system's order, each with its serial and model.
    virtual std::vector<DiskIdentity> disks() { return {}; }
    // Hardware addresses of the network adapters in the system's order,
    // loopback left out; usually 6 bytes each.
    virtual std::vector<std::vector<uint8_t>> adapterAddresses() { return {}; }
};

// The installed probe (the null one until set).  Set once at start-up, or by
// tests between runs; read on the UI thread.
MachineProbe& machineProbe();
// Null installs the null probe back.
void setMachineProbe(MachineProbe* probe);
