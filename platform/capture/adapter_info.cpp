#include "platform/capture/adapter_info.h"

#include <dlfcn.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

#include "platform/capture/capture_names.h"
#include "platform/capture/hardware_ids.h"

namespace veltris::capture {
namespace {

namespace fs = std::filesystem;

std::string linkTargetName(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}

bool readHexId(const fs::path& file, uint16_t& id) {
  std::string text;
  if (!readSmallFile(file, text, 64)) return false;
  std::string_view digits(text);
  if (digits.starts_with("0x")) digits.remove_prefix(2);
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), id, 16);
  return ec == std::errc() && end == digits.data() + digits.size();
}

// The names from the first of the two databases that lists the device, else
// the first that lists the vendor.
HardwareNames namesFromIds(const fs::path (&files)[2], uint16_t vendor, uint16_t device) {
  HardwareNames found;
  for (const fs::path& file : files) {
    HardwareNames names;
    if (!lookUpHardwareNames(file, vendor, device, names)) continue;
    if (!names.device.empty()) return names;
    if (found.vendor.empty()) found = names;
  }
  return found;
}

// IFLA_INFO_KIND of an interface ("veth", "bridge", "tun"...), empty when unknown.
std::string kindFromKernel(std::string_view interfaceName) {
  if (interfaceName.empty() || interfaceName.size() >= 16) return {};
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return {};
  timeval timeout{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  struct {
    nlmsghdr header;
    ifinfomsg info;
    char attributes[64];
  } request{};
  rtattr* name = reinterpret_cast<rtattr*>(request.attributes);
  name->rta_type = IFLA_IFNAME;
  name->rta_len = static_cast<unsigned short>(RTA_LENGTH(interfaceName.size() + 1));
  std::memcpy(RTA_DATA(name), interfaceName.data(), interfaceName.size());
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg)) + RTA_ALIGN(name->rta_len);
  request.header.nlmsg_type = RTM_GETLINK;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = 1;
  request.info.ifi_family = AF_UNSPEC;
  alignas(nlmsghdr) char reply[16384];
  ssize_t got = -1;
  if (::send(fd, &request, request.header.nlmsg_len, 0) >= 0) got = ::recv(fd, reply, sizeof reply, 0);
  ::close(fd);
  if (got <= 0) return {};
  auto* message = reinterpret_cast<nlmsghdr*>(reply);
  if (!NLMSG_OK(message, static_cast<unsigned>(got)) || message->nlmsg_type != RTM_NEWLINK) return {};
  int length = static_cast<int>(IFLA_PAYLOAD(message));
  for (rtattr* attr = IFLA_RTA(NLMSG_DATA(message)); RTA_OK(attr, length); attr = RTA_NEXT(attr, length)) {
    if (attr->rta_type != IFLA_LINKINFO) continue;
    int nestedLength = static_cast<int>(RTA_PAYLOAD(attr));
    for (rtattr* info = static_cast<rtattr*>(RTA_DATA(attr)); RTA_OK(info, nestedLength);
         info = RTA_NEXT(info, nestedLength)) {
      if (info->rta_type == IFLA_INFO_KIND) return std::string(static_cast<const char*>(RTA_DATA(info)),
                                                               ::strnlen(static_cast<const char*>(RTA_DATA(info)),
                                                                         RTA_PAYLOAD(info)));
    }
  }
  return {};
}

// A virtual interface's kind from sysfs, or from the kernel as a last resort.
std::string virtualKind(std::string_view interfaceName, const fs::path& interfaceDir, const AdapterInfoSources& sources) {
  std::string uevent;
  if (readSmallFile(interfaceDir / "uevent", uevent)) {
    const size_t at = uevent.find("DEVTYPE=");
    if (at != std::string::npos) return uevent.substr(at + 8, uevent.find('\n', at) - (at + 8));
  }
  std::error_code ec;
  if (fs::exists(interfaceDir / "tun_flags", ec)) return "tun";
  if (fs::exists(interfaceDir / "bridge", ec)) return "bridge";
  if (fs::exists(interfaceDir / "bonding", ec)) return "bonding";
  return sources.askKernel ? kindFromKernel(interfaceName) : std::string();
}

int64_t modificationTime(const fs::path& file) {
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : 0;
}

// libpcap reads capture files: it is the "driver" of a replay.
AdapterInfo describeCaptureFile(std::string_view adapterName) {
  AdapterInfo info;
  CaptureFileName name;
  std::string error;
  const fs::path path = parseCaptureFileName(adapterName, name, error) ? name.path : std::string(adapterName);
  info.title = "Capture file " + path.filename().string();
  info.driverName = "libpcap";
  Dl_info library{};
  if (::dladdr(reinterpret_cast<void*>(&pcap_open_offline), &library) != 0 && library.dli_fname != nullptr) {
    std::error_code ec;
    const fs::path file = fs::canonical(library.dli_fname, ec);
    if (!ec) {
      info.driverFile = file.string();
      info.driverFileTime = modificationTime(file);
    }
  }
  return info;
}

}  // namespace

HardwareNames hardwareNamesOf(const fs::path& interfaceDir, const AdapterInfoSources& sources) {
  std::error_code ec;
  fs::path dir = fs::canonical(interfaceDir / "device", ec);
  for (int level = 0; !ec && level < 4 && dir.has_relative_path(); ++level, dir = dir.parent_path()) {
    uint16_t vendor = 0, device = 0;
    if (readHexId(dir / "idVendor", vendor) && readHexId(dir / "idProduct", device))
      return namesFromIds(sources.usbIds, vendor, device);
    if (linkTargetName(dir / "subsystem") == "pci" && readHexId(dir / "vendor", vendor) &&
        readHexId(dir / "device", device))
      return namesFromIds(sources.pciIds, vendor, device);
  }
  return {};
}

AdapterInfoSources AdapterInfoSources::underRoot(const fs::path& root) {
  utsname system{};
  ::uname(&system);
  AdapterInfoSources sources;
  sources.netClass = root / "sys/class/net";
  sources.moduleClass = root / "sys/module";
  sources.pciIds[0] = root / "usr/share/misc/pci.ids";
  sources.pciIds[1] = root / "usr/share/hwdata/pci.ids";
  sources.usbIds[0] = root / "usr/share/misc/usb.ids";
  sources.usbIds[1] = root / "usr/share/hwdata/usb.ids";
  sources.modulesDir = root / "lib/modules" / system.release;
  std::error_code ec;
  sources.askKernel = fs::equivalent(root, "/", ec);  // the kernel only knows the real tree
  return sources;
}

std::string driverModuleOf(std::string_view interfaceName, const AdapterInfoSources& sources) {
  const fs::path interfaceDir = sources.netClass / std::string(interfaceName);
  std::string module = linkTargetName(interfaceDir / "device/driver/module");
  if (module.empty()) module = linkTargetName(interfaceDir / "device/driver");
  std::error_code ec;
  if (module.empty() && fs::exists(interfaceDir, ec)) module = virtualKind(interfaceName, interfaceDir, sources);
  return module;
}

bool moduleVersion(std::string_view module, const AdapterInfoSources& sources, uint32_t& major, uint32_t& minor) {
  std::string text;
  if (module.empty() || !readSmallFile(sources.moduleClass / std::string(module) / "version", text, 128)) return false;
  const char* at = text.data();
  const char* end = text.data() + text.size();
  auto first = std::from_chars(at, end, major);
  if (first.ec != std::errc() || major > 255) return false;
  minor = 0;
  if (first.ptr < end && *first.ptr == '.') {
    auto second = std::from_chars(first.ptr + 1, end, minor);
    if (second.ec != std::errc()) minor = 0;
  }
  minor = minor > 255 ? 255 : minor;
  return true;
}

AdapterInfo describeAdapter(std::string_view adapterName) {
  return describeAdapter(adapterName, AdapterInfoSources::underRoot("/"));
}

AdapterInfo describeAdapter(std::string_view adapterName, const AdapterInfoSources& sources) {
  if (isCaptureFileName(adapterName)) return describeCaptureFile(adapterName);
  AdapterInfo info;
  info.driverName = driverModuleOf(adapterName, sources);
  info.title = hardwareTitle(hardwareNamesOf(sources.netClass / std::string(adapterName), sources));
  if (info.title.empty()) info.title = info.driverName.empty() ? std::string(adapterName) : info.driverName;
  const fs::path file = info.driverName.empty() ? fs::path() : moduleFile(sources.modulesDir, info.driverName);
  if (!file.empty()) {
    info.driverFile = file.string();
    info.driverFileTime = modificationTime(file);
  }
  return info;
}

}  // namespace veltris::capture
