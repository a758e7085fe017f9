// The Linux machine probe: disks from sysfs (/sys/block) with serials from
// sysfs or the udev database (/run/udev/data), adapters from
// /sys/class/net.  Everything is read under `root` so tests can point it at
// a fake tree; "" is the real system.
#pragma once

#include <string>

#include "platform/machine_probe.h"

struct LinuxMachineProbe : MachineProbe {
    std::string root;

    // Block devices backed by hardware (they have a "device" link) and not
    // removable, in name order (sda before sdb before sdaa); each with the
    // sysfs serial, else udev's ID_SERIAL_SHORT or ID_SERIAL; the model from
    // sysfs, else udev's ID_MODEL.  Texts lose trailing blanks.
    std::vector<DiskIdentity> disks() override;
    // Interfaces other than loopback with a readable "xx:xx:..." address:
    // those backed by a hardware device first, then virtual ones (bridges,
    // tunnels), each group in interface index order, so that a virtual
    // adapter created before the network card does not decide the number.
    std::vector<std::vector<uint8_t>> adapterAddresses() override;
};
