// The Windows machine probe.  Disks: four readers run one after another, each
// over drives 0 to 15 (with administrator rights, IDE through the SCSI port,
// with zero rights, through SMART); every drive a reader answers for becomes
// one entry, in that order, and the core keeps the first usable serial, so
// a find never overwrites an earlier one.  Adapters: GetAdaptersInfo, in the
// system's order.
//
// The Windows 9x reader (the IDE21201.VXD driver) is left out: the client
// needs an NT-family Windows (it uses WOW64 detection, Winsock 2 and
// UTF-16 screen-reader interfaces).
//
// Drives or controllers that cannot be opened and failing queries are
// skipped silently.  Every handle is closed by the reader that opened it.
#include <windows.h>
#include <iphlpapi.h>

#include <cctype>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "identity/system_probe.h"

namespace {

constexpr DWORD kSmartGetVersion = 0x74080;
constexpr DWORD kSmartRcvDriveData = 0x7C088;
constexpr DWORD kScsiMiniport = 0x4D008;
constexpr DWORD kScsiMiniportIdentify = 0x1B0501;
constexpr DWORD kStorageQueryProperty = 0x2D1400;
constexpr int kDrives = 16;

#pragma pack(push, 1)
struct GetVersionOut {  // GETVERSIONOUTPARAMS, 24 bytes
    uint8_t version, revision, reserved, ideDeviceMap;
    uint32_t capabilities;
    uint32_t reserved2[4];
};
struct IdeRegs {  // IDEREGS, 8 bytes
    uint8_t features, sectorCount, sectorNumber, cylLow, cylHigh, driveHead, command, reserved;
};
struct SendCmdIn {  // SENDCMDINPARAMS without its 1-byte buffer: 32 bytes
    uint32_t bufferSize;
    IdeRegs regs;
    uint8_t driveNumber;
    uint8_t reserved[3];
    uint32_t reserved2[4];
};
struct SrbIoControl {  // SRB_IO_CONTROL, 28 bytes
    uint32_t headerLength;
    char signature[8];
    uint32_t timeout;
    uint32_t controlCode;
    uint32_t returnCode;
    uint32_t length;
};
#pragma pack(pop)
static_assert(sizeof(GetVersionOut) == 24);
static_assert(sizeof(SendCmdIn) == 32);
static_assert(sizeof(SrbIoControl) == 28);

constexpr size_t kCmdOutHeader = 16;  // SENDCMDOUTPARAMS before its buffer
constexpr size_t kSectorBytes = 512;

HANDLE openDrive(const char* pattern, int n, DWORD access, DWORD share) {
    char name[32];
    std::snprintf(name, sizeof name, pattern, n);
    return CreateFileA(name, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool ioctl(HANDLE h, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen) {
    DWORD got = 0;
    return DeviceIoControl(h, code, in, inLen, out, outLen, &got, nullptr) != 0;
}

// A word range of an IDENTIFY sector as text: high byte then low byte of
// each word, trailing blanks cleared (the first character never is).
std::string wordsToText(const uint8_t* sector, int first, int last) {
    std::string s;
    for (int w = first; w <= last; ++w) {
        s += static_cast<char>(sector[2 * w + 1]);
        s += static_cast<char>(sector[2 * w]);
    }
    s = s.c_str();  // up to the first NUL
    while (s.size() > 1 && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    return s;
}

// Serial (words 10-19) and model (words 27-46) of an IDENTIFY sector.
DiskIdentity fromSector(const uint8_t* sector) {
    return {wordsToText(sector, 10, 19), wordsToText(sector, 27, 46)};
}

// With administrator rights: SMART identify (ATA or ATAPI by the device map).
void readAsAdmin(std::vector<DiskIdentity>* out) {
    for (int drive = 0; drive < kDrives; ++drive) {
        HANDLE h = openDrive("\\\\.\\PhysicalDrive%d", drive, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (h == INVALID_HANDLE_VALUE) continue;
        GetVersionOut v{};
        if (ioctl(h, kSmartGetVersion, nullptr, 0, &v, sizeof v) && v.ideDeviceMap != 0) {
            SendCmdIn in{};
            in.bufferSize = kSectorBytes;
            in.regs.sectorCount = 1;
            in.regs.driveHead = static_cast<uint8_t>(0xA0 | ((drive & 1) << 4));
            in.regs.command = ((v.ideDeviceMap >> drive) & 0x10) ? 0xA1 : 0xEC;
            in.driveNumber = static_cast<uint8_t>(drive);
            std::vector<uint8_t> answer(kCmdOutHeader + kSectorBytes);
            if (ioctl(h, kSmartRcvDriveData, &in, sizeof in, answer.data(),
                      static_cast<DWORD>(answer.size())))
                out->push_back(fromSector(answer.data() + kCmdOutHeader));
        }
        CloseHandle(h);
    }
}

// IDE drives behind a SCSI port miniport (controllers 0-15, drives 0 and 1).
void readThroughScsi(std::vector<DiskIdentity>* out) {
    constexpr size_t kBuffer = sizeof(SrbIoControl) + kCmdOutHeader + kSectorBytes + 1;  // 557
    for (int controller = 0; controller < kDrives; ++controller) {
        HANDLE h = openDrive("\\\\.\\Scsi%d:", controller, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (h == INVALID_HANDLE_VALUE) continue;
        for (int drive = 0; drive < 2; ++drive) {
            std::vector<uint8_t> buf(kBuffer, 0);
            SrbIoControl srb{};
            srb.headerLength = sizeof srb;
            std::memcpy(srb.signature, "SCSIDISK", 8);
            srb.timeout = 10000;
            srb.controlCode = kScsiMiniportIdentify;
            srb.length = static_cast<uint32_t>(kBuffer - sizeof srb);  // 529
            SendCmdIn in{};
            in.regs.command = 0xEC;
            in.driveNumber = static_cast<uint8_t>(drive);
            std::memcpy(buf.data(), &srb, sizeof srb);
            std::memcpy(buf.data() + sizeof srb, &in, sizeof in);
            if (!ioctl(h, kScsiMiniport, buf.data(), sizeof srb + sizeof in + 1, buf.data(),
                       static_cast<DWORD>(buf.size())))
                continue;
            const uint8_t* sector = buf.data() + sizeof srb + kCmdOutHeader;
            if (sector[2 * 27] != 0 || sector[2 * 27 + 1] != 0) out->push_back(fromSector(sector));
        }
        CloseHandle(h);
    }
}

bool printable(char c) { return c >= 0x20 && c < 0x7F; }

// A string of a storage descriptor: hexadecimal when it reads as such
// (blanks count as "0"), else the text itself (empty when any character is
// not printable); pairs swapped on request; blanks trimmed at both ends.
std::string descriptorString(const uint8_t* base, size_t size, long offset, bool swap) {
    if (offset <= 0 || static_cast<size_t>(offset) >= size) return {};
    const char* s = reinterpret_cast<const char*>(base + offset);
    size_t n = strnlen(s, size - static_cast<size_t>(offset));
    std::string out;
    bool hexOk = true;
    int digits = 0, byte = 0;
    for (size_t i = 0; i < n && hexOk; ++i) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
        if (std::isspace(static_cast<unsigned char>(c))) c = '0';
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else { hexOk = false; break; }
        byte = byte * 16 + v;
        if (++digits == 2) {
            if (byte != 0 && !printable(static_cast<char>(byte))) hexOk = false;
            else out += static_cast<char>(byte);
            digits = byte = 0;
        }
    }
    if (!hexOk) {
        out.assign(s, n);
        for (char c : out) {
            if (!printable(c)) {
                out.clear();
                break;
            }
        }
    }
    out = out.c_str();
    if (swap)
        for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
    size_t b = 0, e = out.size();
    while (b < e && std::isspace(static_cast<unsigned char>(out[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(out[e - 1]))) --e;
    return out.substr(b, e - b);
}

// With zero rights: the storage device property.
void readWithZeroRights(std::vector<DiskIdentity>* out) {
    for (int drive = 0; drive < kDrives; ++drive) {
        HANDLE h = openDrive("\\\\.\\PhysicalDrive%d", drive, 0, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (h == INVALID_HANDLE_VALUE) continue;
        uint32_t query[3] = {0, 0, 0};  // device property, standard query
        std::vector<uint8_t> answer(10000, 0);
        if (ioctl(h, kStorageQueryProperty, query, sizeof query, answer.data(),
                  static_cast<DWORD>(answer.size()))) {
            auto field = [&](size_t at) {
                int32_t v;
                std::memcpy(&v, answer.data() + at, sizeof v);
                return static_cast<long>(v);
            };
            std::string product = descriptorString(answer.data(), answer.size(), field(16), false);
            std::string serial = descriptorString(answer.data(), answer.size(), field(24), true);
            out->push_back({serial, product});
        }
        CloseHandle(h);
    }
}

// Through SMART with a plain ATA identify.
void readThroughSmart(std::vector<DiskIdentity>* out) {
    for (int drive = 0; drive < kDrives; ++drive) {
        HANDLE h = openDrive("\\\\.\\PhysicalDrive%d", drive, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        if (h == INVALID_HANDLE_VALUE) continue;
        GetVersionOut v{};
        if (ioctl(h, kSmartGetVersion, nullptr, 0, &v, sizeof v)) {
            std::vector<uint8_t> buf(sizeof(SendCmdIn) + 1 + kSectorBytes, 0);  // 545
            SendCmdIn in{};
            in.regs.command = 0xEC;
            std::memcpy(buf.data(), &in, sizeof in);
            if (ioctl(h, kSmartRcvDriveData, buf.data(), sizeof in + 1, buf.data(),
                      static_cast<DWORD>(buf.size())))
                out->push_back(fromSector(buf.data() + kCmdOutHeader));
        }
        CloseHandle(h);
    }
}

struct Win32Probe : MachineProbe {
    std::vector<DiskIdentity> disks() override {
        std::vector<DiskIdentity> found;
        readAsAdmin(&found);
        readThroughScsi(&found);
        readWithZeroRights(&found);
        readThroughSmart(&found);
        return found;
    }

    std::vector<std::vector<uint8_t>> adapterAddresses() override {
        // Room for 16 adapter records; a longer list reads as none.
        std::vector<uint8_t> buf(10240);
        ULONG size = static_cast<ULONG>(buf.size());
        auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buf.data());
        std::vector<std::vector<uint8_t>> out;
        if (GetAdaptersInfo(info, &size) != ERROR_SUCCESS) return out;
        for (; info; info = info->Next) {
            if (info->Type == MIB_IF_TYPE_LOOPBACK) continue;
            out.emplace_back(info->Address, info->Address + info->AddressLength);
        }
        return out;
    }
};

}  // namespace

MachineProbe* systemMachineProbe() {
    static Win32Probe probe;
    return &probe;
}
