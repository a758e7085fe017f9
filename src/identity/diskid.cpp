#include "identity/diskid.h"

#include "platform/radix36.h"

namespace {
IdentityState identityState;
}  // namespace

const IdentityState& identityView() { return identityState; }

void identityReset() { identityState = IdentityState{}; }

namespace {
bool isAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
}  // namespace

bool usableDiskSerial(std::string_view serial) {
    return (!serial.empty() && isAlnum(serial[0])) || (serial.size() > 19 && isAlnum(serial[19]));
}

uint32_t diskNumber(std::string_view serial, std::string_view model) {
    // Unsigned so that the wrap of a long serial is defined; the value is
    // the two's complement accumulator.
    uint64_t acc = 0;
    if (!serial.empty() && static_cast<signed char>(serial[0]) > 0) {
        size_t i = 0;
        // The prefix and the character after it never count.  A serial that
        // is only "WD-W" folds to nothing rather than reading past its end.
        if (serial.substr(0, 4) == "WD-W") i = serial.size() < 5 ? serial.size() : 5;
        for (; i < serial.size(); ++i) {
            const char c = serial[i];
            if (c == '-') continue;
            uint64_t v = 0;
            if (c >= '1' && c <= '9') v = static_cast<uint64_t>(c - '0');
            else if (c >= 'A' && c <= 'Z') v = static_cast<uint64_t>(c - 'A' + 10);
            else if (c >= 'a' && c <= 'z') v = static_cast<uint64_t>(c - 'a' + 10);
            acc = acc * 10 + v;
        }
    }
    // Truncating remainder: its sign follows the accumulator, so it lies in
    // (-100000000, 100000000) and the offset keeps the sum positive.
    const int64_t rem = static_cast<int64_t>(acc) % 100000000;
    int64_t offset = 600000000;
    if (model.find("IBM-") != std::string_view::npos) offset = 300000000;
    else if (model.find("MAXTOR") != std::string_view::npos ||
             model.find("Maxtor") != std::string_view::npos)
        offset = 400000000;
    else if (model.find("WDC ") != std::string_view::npos) offset = 500000000;
    return static_cast<uint32_t>(rem + offset);
}

uint32_t adapterNumber(const std::vector<uint8_t>& address) {
    uint32_t n = 0;
    for (size_t i = 2; i < 6; ++i) n = (n << 8) | (i < address.size() ? address[i] : 0);
    return n;
}

uint32_t getHardDriveComputerID() {
    IdentityState& id = identityState;
    id.HardDriveSerialNumber.clear();
    id.HardDriveModelNumber.clear();
    for (const DiskIdentity& d : machineProbe().disks()) {
        if (usableDiskSerial(d.serial)) {
            id.HardDriveSerialNumber = d.serial;
            id.HardDriveModelNumber = d.model;
            break;
        }
    }
    return diskNumber(id.HardDriveSerialNumber, id.HardDriveModelNumber);
}

uint32_t GetMACAddress() {
    for (const std::vector<uint8_t>& a : machineProbe().adapterAddresses())
        if (uint32_t n = adapterNumber(a)) return n;
    return 0;
}

uint64_t diskid() {
    const uint64_t mac = GetMACAddress();  // read first, as the order is part of the contract
    return (mac << 32) | getHardDriveComputerID();
}

std::string clientIdFromDiskId(uint64_t id) { return toBase36(id); }
