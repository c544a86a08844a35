#include "platform/capture/adapter_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include "platform/capture/hardware_ids.h"
#include "tests/support/pcap_writer.h"

namespace veltris::capture {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kModuleTime = 915148800;  // 1999-01-01

// A made-up machine: a PCI card, a USB adapter, a bridge and a tun device.
class AdapterDescription : public ::testing::Test {
 protected:
  void SetUp() override {
    sources = AdapterInfoSources::underRoot(dir.path());
    sources.askKernel = false;
    const fs::path sys = dir / "sys";
    const fs::path pci = sys / "devices/pci0000:00/0000:00:19.0";
    file(pci / "vendor", "0x8086\n");
    file(pci / "device", "0x100e\n");
    fs::create_directories(sys / "bus/pci/drivers/e1000");
    fs::create_directories(sys / "module/e1000");
    file(sys / "module/e1000/version", "7.3.21-k8-NAPI\n");
    link(pci / "subsystem", sys / "bus/pci");
    link(pci / "driver", sys / "bus/pci/drivers/e1000");
    link(sys / "bus/pci/drivers/e1000/module", sys / "module/e1000");
    interface("eth9", pci);

    const fs::path usbDevice = sys / "devices/usb1/1-1";
    file(usbDevice / "idVendor", "0bda\n");
    file(usbDevice / "idProduct", "8153\n");
    fs::create_directories(usbDevice / "1-1:1.0");
    fs::create_directories(sys / "bus/usb/drivers/r8152");
    link(usbDevice / "1-1:1.0/driver", sys / "bus/usb/drivers/r8152");
    interface("usb0", usbDevice / "1-1:1.0");

    file(sys / "class/net/br0/uevent", "DEVTYPE=bridge\nINTERFACE=br0\nIFINDEX=5\n");
    file(sys / "class/net/tun3/tun_flags", "0x1001\n");

    file(sources.pciIds[0],
         "# pci.ids\n8086  Intel Corporation\n\t1000  82542 Gigabit Ethernet Controller (Fiber)\n"
         "\t\t0e11 b0df  NC6132 Gigabit Ethernet Adapter (1000-SX)\n\t100e  82540EM Gigabit Ethernet Controller\n"
         "10ec  Realtek Semiconductor Co., Ltd. With A Name Long Enough To Crowd The Title\n"
         "\t8168  RTL8111/8168/8411 PCI Express Gigabit Ethernet Controller\nC 00  Unclassified device\n");
    file(sources.usbIds[1], "0bda  Realtek Semiconductor Corp.\n\t8153  RTL8153 Gigabit Ethernet Adapter\n");
    const fs::path module = sources.modulesDir / "kernel/drivers/net/ethernet/intel/e1000/e1000.ko.xz";
    file(module, "module");
    utimbuf times{kModuleTime, kModuleTime};
    ::utime(module.c_str(), &times);
    file(sources.modulesDir / "kernel/net/bridge/bridge.ko", "module");
    file(sources.modulesDir / "modules.dep",
         "kernel/drivers/net/ethernet/intel/e1000/e1000.ko.xz:\nkernel/net/bridge/bridge.ko: kernel/net/802/stp.ko\n");
  }
  void file(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    testing::writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
  }
  void link(const fs::path& at, const fs::path& target) {
    fs::create_directories(at.parent_path());
    fs::create_directory_symlink(target, at);
  }
  void interface(const std::string& name, const fs::path& device) {
    fs::create_directories(dir / "sys/class/net" / name);
    link(dir / "sys/class/net" / name / "device", device);
  }
  testing::TempDir dir;
  AdapterInfoSources sources;
};

TEST_F(AdapterDescription, PciCardTitleDriverAndModuleFile) {
  const AdapterInfo info = describeAdapter("eth9", sources);
  EXPECT_EQ(info.title, "Intel Corporation 82540EM Gigabit Ethernet Controller");
  EXPECT_EQ(info.driverName, "e1000");
  EXPECT_EQ(info.driverFile, (sources.modulesDir / "kernel/drivers/net/ethernet/intel/e1000/e1000.ko.xz").string());
  EXPECT_EQ(info.driverFileTime, kModuleTime);
}

TEST_F(AdapterDescription, UsbAdapterFromTheSecondIdsFileWithABuiltInDriver) {
  const AdapterInfo info = describeAdapter("usb0", sources);
  EXPECT_EQ(info.title, "Realtek Semiconductor Corp. RTL8153 Gigabit Ethernet Adapter");
  EXPECT_EQ(info.driverName, "r8152");
  EXPECT_TRUE(info.driverFile.empty());
  EXPECT_EQ(info.driverFileTime, 0);
}

TEST_F(AdapterDescription, VirtualInterfacesAreNamedByTheirKind) {
  const AdapterInfo bridge = describeAdapter("br0", sources);
  EXPECT_EQ(bridge.title, "bridge");
  EXPECT_EQ(bridge.driverName, "bridge");
  EXPECT_NE(bridge.driverFile.find("bridge.ko"), std::string::npos);
  EXPECT_EQ(describeAdapter("tun3", sources).driverName, "tun");
  const AdapterInfo unknown = describeAdapter("nosuch0", sources);
  EXPECT_EQ(unknown.title, "nosuch0");
  EXPECT_TRUE(unknown.driverName.empty());
}

TEST_F(AdapterDescription, CaptureFileIsDrivenByLibpcap) {
  const AdapterInfo info = describeAdapter("/data/monday.pcapng@02:00:00:00:00:05", sources);
  EXPECT_EQ(info.title, "Capture file monday.pcapng");
  EXPECT_EQ(info.driverName, "libpcap");
  EXPECT_NE(fs::path(info.driverFile).filename().string().find("libpcap"), std::string::npos) << info.driverFile;
  EXPECT_GT(info.driverFileTime, 0);
}

TEST_F(AdapterDescription, ModuleVersionIsMajorDotMinor) {
  uint32_t major = 0, minor = 0;
  ASSERT_TRUE(moduleVersion("e1000", sources, major, minor));
  EXPECT_EQ(major, 7u);
  EXPECT_EQ(minor, 3u);
  file(dir / "sys/module/plain/version", "2\n");
  ASSERT_TRUE(moduleVersion("plain", sources, major, minor));
  EXPECT_EQ(major, 2u);
  EXPECT_EQ(minor, 0u);
  file(dir / "sys/module/words/version", "unknown\n");
  EXPECT_FALSE(moduleVersion("words", sources, major, minor));
  file(dir / "sys/module/huge/version", "300.1\n");
  EXPECT_FALSE(moduleVersion("huge", sources, major, minor));
  EXPECT_FALSE(moduleVersion("r8152", sources, major, minor));
  EXPECT_EQ(driverModuleOf("eth9", sources), "e1000");
}

TEST_F(AdapterDescription, IdsLookupMissesAndLongNames) {
  EXPECT_EQ(hardwareTitle(sources.pciIds[0], 0x8086, 0x1000), "Intel Corporation 82542 Gigabit Ethernet Controller (Fiber)");
  EXPECT_EQ(hardwareTitle(sources.pciIds[0], 0x10ec, 0x8168), "RTL8111/8168/8411 PCI Express Gigabit Ethernet Controller")
      << "vendor and device together would not fit the title";
  EXPECT_EQ(hardwareTitle(sources.pciIds[0], 0x8086, 0xb0df), "") << "subsystem lines are not devices";
  EXPECT_EQ(hardwareTitle(sources.pciIds[0], 0x8087, 0x100e), "") << "devices belong to their own vendor";
  EXPECT_EQ(hardwareTitle(dir / "none.ids", 0x8086, 0x100e), "");
  EXPECT_TRUE(moduleFile(sources.modulesDir, "stp").empty()) << "dependencies are not entries";
  EXPECT_FALSE(moduleFile(sources.modulesDir, "e1000").empty());
}

}  // namespace
}  // namespace veltris::capture
