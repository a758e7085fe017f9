#include "identity/linux/linux_probe.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "identity/system_probe.h"

namespace fs = std::filesystem;

namespace {

// First line of a small sysfs file, without its line end; empty on failure.
std::string readFirstLine(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    return line;
}

std::string trimTrailing(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' ||
                          s.back() == '\r'))
        s.pop_back();
    return s;
}

// The value of "E:<key>=" in a udev database file.
std::string udevProperty(const fs::path& file, const std::string& key) {
    std::ifstream in(file, std::ios::binary);
    const std::string prefix = "E:" + key + "=";
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    return {};
}

std::vector<std::string> sortedEntries(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "aa:bb:cc:dd:ee:ff" (any number of bytes); empty when malformed.
std::vector<uint8_t> parseAddress(const std::string& text) {
    std::vector<uint8_t> out;
    size_t i = 0;
    for (;;) {
        if (i + 2 > text.size()) return {};
        const int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return {};
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
        i += 2;
        if (i == text.size()) return out;
        if (text[i] != ':') return {};
        ++i;
    }
}

}  // namespace

std::vector<DiskIdentity> LinuxMachineProbe::disks() {
    std::vector<DiskIdentity> out;
    const fs::path block = fs::path(root + "/sys/block");
    for (const std::string& name : sortedEntries(block)) {
        const fs::path dev = block / name;
        std::error_code ec;
        if (!fs::exists(dev / "device", ec)) continue;  // loop, dm, zram ...
        if (readFirstLine(dev / "removable") == "1") continue;
        DiskIdentity d;
        d.serial = trimTrailing(readFirstLine(dev / "device" / "serial"));
        d.model = trimTrailing(readFirstLine(dev / "device" / "model"));
        const std::string numbers = readFirstLine(dev / "dev");  // "major:minor"
        if (!numbers.empty() && (d.serial.empty() || d.model.empty())) {
            const fs::path data = fs::path(root + "/run/udev/data") / ("b" + numbers);
            if (d.serial.empty()) d.serial = trimTrailing(udevProperty(data, "ID_SERIAL_SHORT"));
            if (d.serial.empty()) d.serial = trimTrailing(udevProperty(data, "ID_SERIAL"));
            if (d.model.empty()) d.model = trimTrailing(udevProperty(data, "ID_MODEL"));
        }
        out.push_back(std::move(d));
    }
    return out;
}

std::vector<std::vector<uint8_t>> LinuxMachineProbe::adapterAddresses() {
    struct Adapter {
        bool hardware;
        long index;
        std::vector<uint8_t> address;
    };
    std::vector<Adapter> found;
    const fs::path net = fs::path(root + "/sys/class/net");
    for (const std::string& name : sortedEntries(net)) {
        const fs::path dir = net / name;
        // 772 is ARPHRD_LOOPBACK.
        if (name == "lo" || readFirstLine(dir / "type") == "772") continue;
        std::vector<uint8_t> address = parseAddress(readFirstLine(dir / "address"));
        if (address.empty()) continue;
        std::error_code ec;
        const bool hardware = fs::exists(dir / "device", ec);
        long index = 0;
        std::istringstream(readFirstLine(dir / "ifindex")) >> index;
        found.push_back({hardware, index, std::move(address)});
    }
    std::stable_sort(found.begin(), found.end(), [](const Adapter& a, const Adapter& b) {
        return a.hardware != b.hardware ? a.hardware : a.index < b.index;
    });
    std::vector<std::vector<uint8_t>> out;
    for (Adapter& a : found) out.push_back(std::move(a.address));
    return out;
}

MachineProbe* systemMachineProbe() {
    static LinuxMachineProbe probe;
    return &probe;
}
