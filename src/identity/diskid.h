// The machine identifier sent at login: 64 bits made of a number folded from
// the first usable disk serial (low half) and one taken from the first
// network adapter's hardware address (high half), read through the machine
// probe seam.  Always defined: with nothing readable it is 600000000.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine_probe.h"

// The unit's state: the serial and model of the disk the last computation
// used, emptied at the start of every computation (8-bit text).  It lives in
// diskid.cpp; others read it through identityView().  Written and read on
// the UI thread at start-up (the identifier is computed once, before other
// threads exist); identityReset() restores the empty record (resetCore,
// tests).
struct IdentityState {
    std::string HardDriveSerialNumber;
    std::string HardDriveModelNumber;
};
const IdentityState& identityView();
void identityReset();

// GetMACAddress() in the high 32 bits, getHardDriveComputerID() in the low.
uint64_t diskid();
// The disk number of the first usable disk the probe reports; never 0.
uint32_t getHardDriveComputerID();
// The adapter number of the first adapter whose address gives a non-zero
// number; 0 when none does.
uint32_t GetMACAddress();

// The identifier as sent at login: radix 36, lower case, no leading zeros.
std::string clientIdFromDiskId(uint64_t id);

// Pure parts, exposed for tests.
//
// Whether a drive's serial is kept: its first or twentieth character is a
// letter or digit (ASCII).
bool usableDiskSerial(std::string_view serial);
// The disk number of a serial and model: the serial folded to a decimal-like
// number (a "WD-W" prefix and its next character skipped, "-" invisible,
// "1"-"9" worth 1-9, letters 10-35 either case, anything else 0, wrapping in
// 64 bits), its remainder by 100000000, plus an offset from the model:
// "IBM-" 300000000, "MAXTOR"/"Maxtor" 400000000, "WDC " 500000000, else
// 600000000.  A serial whose first byte is not 1..127 folds to 0.
uint32_t diskNumber(std::string_view serial, std::string_view model);
// Bytes 2 to 5 of an address, big-endian (missing bytes count as 0).
uint32_t adapterNumber(const std::vector<uint8_t>& address);
