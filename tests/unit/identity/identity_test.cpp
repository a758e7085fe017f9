#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "identity/diskid.h"
#include "identity/linux/linux_probe.h"

namespace fs = std::filesystem;

namespace {

struct FixedProbe : MachineProbe {
    std::vector<DiskIdentity> d;
    std::vector<std::vector<uint8_t>> a;
    std::vector<DiskIdentity> disks() override { return d; }
    std::vector<std::vector<uint8_t>> adapterAddresses() override { return a; }
};

}  // namespace

TEST(DiskNumber, FoldingAndModelOffsets) {
    struct Case {
        const char* serial;
        const char* model;
        uint32_t expected;
    };
    const Case cases[] = {
        {"", "", 600000000},
        {"", "IBM-DTLA", 300000000},  // an empty serial still takes the offset
        {"123", "", 600000123},
        {"1-2-3", "", 600000123},             // hyphens are invisible
        {"1 0 3", "", 600010003},             // "0" and a space: x10, +0
        {"a", "", 600000010},
        {"A", "", 600000010},                 // either case
        {"Z1", "", 600000351},
        {"12", "xxIBM-yy", 300000012},
        {"12", "MAXTOR 6L", 400000012},
        {"12", "Maxtor 6L", 400000012},
        {"12", "maxtor", 600000012},          // only those two spellings
        {"12", "WDC WD800", 500000012},
        {"12", "WDC", 600000012},             // the trailing space is needed
        {"12", "IBM-WDC ", 300000012},        // first match wins
        {"WD-WX12", "WDC WD", 500000012},     // prefix and the next character skipped
        {"WD-W", "", 600000000},              // nothing after the prefix
        {"WD-", "", 600000333},              // no prefix: "W" 32, "D" 13
        {"123456789", "", 623456789},         // remainder by 100000000
        {"\xE9" "123", "", 600000000},        // first byte above 127: no folding
    };
    for (const Case& c : cases) {
        EXPECT_EQ(diskNumber(c.serial, c.model), c.expected) << c.serial << " / " << c.model;
    }
}

TEST(DiskNumber, OverflowWrapsAndStaysPositive) {
    // 19 letters "a" (value 10) overflow 64 bits and wrap to
    // -7335632962598440506; the truncating remainder keeps the sign:
    // -98440506, so the sum is 300000000 - 98440506.
    EXPECT_EQ(diskNumber(std::string(19, 'a'), "IBM-"), 201559494u);
    EXPECT_EQ(diskNumber(std::string(19, 'a'), ""), 501559494u);
}

TEST(AdapterNumber, LastFourBytesBigEndian) {
    EXPECT_EQ(adapterNumber({0xAA, 0xBB, 0x01, 0x02, 0x03, 0x04}), 0x01020304u);
    EXPECT_EQ(adapterNumber({0x12, 0x34, 0, 0, 0, 0}), 0u);
    EXPECT_EQ(adapterNumber({1, 2, 3}), 0x03000000u);  // short address: zeros
    EXPECT_EQ(adapterNumber({}), 0u);
}

TEST(Diskid, ComposesThroughTheProbe) {
    FixedProbe p;
    setMachineProbe(&p);
    // Nothing readable: adapter 0, the empty-serial disk number.
    EXPECT_EQ(diskid(), 600000000u);
    EXPECT_EQ(clientIdFromDiskId(diskid()), "9x82yo");

    // The first adapter with non-zero last four bytes wins; the first disk
    // whose first or twentieth character is alphanumeric wins.
    p.a = {{1, 2, 0, 0, 0, 0}, {0xFF, 0xFF, 0, 0, 0, 5}, {0, 0, 0, 0, 0, 9}};
    p.d = {{"  --", "IBM-X"},
           {"", "Maxtor"},
           {std::string(19, ' ') + "7", "WDC A"},
           {"99", "IBM-Y"}};
    const uint64_t id = diskid();
    EXPECT_EQ(id >> 32, 5u);
    EXPECT_EQ(static_cast<uint32_t>(id), 500000007u);
    EXPECT_EQ(identityView().HardDriveModelNumber, "WDC A");
    EXPECT_EQ(clientIdFromDiskId(0), "0");
    EXPECT_EQ(clientIdFromDiskId(~uint64_t{0}), "3w5e11264sgsf");

    // Every computation starts from an empty serial.
    p.d.clear();
    EXPECT_EQ(getHardDriveComputerID(), 600000000u);
    EXPECT_EQ(identityView().HardDriveSerialNumber, "");
    setMachineProbe(nullptr);
}

namespace {
void put(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}
}  // namespace

TEST(LinuxProbe, ReadsAFakeSysfsTree) {
    const fs::path root = fs::temp_directory_path() /
                          ("kordo-probe-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(root);
    // loop0: no device (virtual); sr0: removable; sdb: serial in sysfs;
    // sda: serial only in the udev data; nvme: sorted after (longer name).
    put(root / "sys/block/loop0/dev", "7:0\n");
    put(root / "sys/block/sr0/device/model", "DVD\n");
    put(root / "sys/block/sr0/removable", "1\n");
    put(root / "sys/block/sda/device/model", "WDC WD5000   \n");
    put(root / "sys/block/sda/removable", "0\n");
    put(root / "sys/block/sda/dev", "8:0\n");
    put(root / "run/udev/data/b8:0", "S:disk/by-id/x\nE:ID_SERIAL=WDC_WD5000_WD-WX1\n"
                                     "E:ID_SERIAL_SHORT=WD-WX1234\n");
    put(root / "sys/block/sdb/device/serial", "  S2ABC  \n");
    put(root / "sys/block/sdb/device/model", "Samsung\n");
    put(root / "sys/block/nvme0n1/device/serial", "N1\n");

    // lo: loopback; docker0: virtual, lower index; eth0: hardware.
    put(root / "sys/class/net/lo/address", "00:00:00:00:00:00\n");
    put(root / "sys/class/net/lo/type", "772\n");
    put(root / "sys/class/net/docker0/address", "02:42:ac:11:00:01\n");
    put(root / "sys/class/net/docker0/ifindex", "2\n");
    put(root / "sys/class/net/eth0/address", "52:54:00:12:34:56\n");
    put(root / "sys/class/net/eth0/ifindex", "3\n");
    fs::create_directories(root / "sys/class/net/eth0/device");
    put(root / "sys/class/net/bad0/address", "zz:1\n");

    LinuxMachineProbe probe;
    probe.root = root.string();
    const std::vector<DiskIdentity> disks = probe.disks();
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(disks[0].serial, "WD-WX1234");
    EXPECT_EQ(disks[0].model, "WDC WD5000");
    EXPECT_EQ(disks[1].serial, "  S2ABC");
    EXPECT_EQ(disks[2].serial, "N1");
    EXPECT_EQ(probe.adapterAddresses(),
              (std::vector<std::vector<uint8_t>>{{0x52, 0x54, 0x00, 0x12, 0x34, 0x56},
                                                 {0x02, 0x42, 0xac, 0x11, 0x00, 0x01}}));

    setMachineProbe(&probe);
    // sda wins; "WD-W" and the "X" after it skipped: "1234", model "WDC ".
    EXPECT_EQ(getHardDriveComputerID(), 500001234u);
    EXPECT_EQ(GetMACAddress(), 0x00123456u);
    setMachineProbe(nullptr);
    fs::remove_all(root);
}

TEST(LinuxProbe, EmptyRootGivesTheDefinedIdentifier) {
    LinuxMachineProbe probe;
    probe.root = "/nonexistent-kordo-root";
    setMachineProbe(&probe);
    EXPECT_EQ(diskid(), 600000000u);
    setMachineProbe(nullptr);
}
