#include "agent/diagnostics/adapters_report.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "common/reply_records.h"
#include "platform/capture/hardware_ids.h"
#include "platform/system_root.h"

namespace veltris::agent {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSystemRootPrefix = "\\SystemRoot\\";

// ---- Names from the id databases --------------------------------------------------

int interfaceIndex(const fs::path& interfaceDir) {
  std::string text;
  int index = INT_MAX;
  if (capture::readSmallFile(interfaceDir / "ifindex", text, 32))
    std::from_chars(text.data(), text.data() + text.size(), index);
  return index;
}

// ---- Report text ------------------------------------------------------------------------

class ReportText {
 public:
  ReportText(char* area, size_t capacity) : area_(area), capacity_(capacity) {}
  void append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (length_ + 1 >= capacity_) return;
    va_list args;
    va_start(args, format);
    const int wrote = std::vsnprintf(area_ + length_, capacity_ - length_, format, args);
    va_end(args);
    if (wrote > 0) length_ = std::min(length_ + static_cast<size_t>(wrote), capacity_ - 1);
  }
  size_t left() const { return capacity_ - length_; }
  size_t length() const { return length_; }

 private:
  char* area_;
  size_t capacity_;
  size_t length_ = 0;
};

void appendCard(ReportText& report, const InstalledCard& card) {
  char driver[512] = {};
  writeDriverText(card.driverImagePath, driver, sizeof driver);
  report.append(
      "\r\n  Product Name: %.511s\r\n  Description : %.511s\r\n  Manufacturer: %.511s\r\n  Service Name: %.511s\r\n"
      "  Driver      : %s\r\n",
      card.productName.c_str(), card.description.c_str(), card.manufacturer.c_str(), card.serviceName.c_str(), driver);
}

// The path a driver's image path names on this machine.
std::string driverFilePath(std::string_view imagePath) {
  if (imagePath.size() < kSystemRootPrefix.size()) return std::string(imagePath);
  for (size_t i = 0; i < kSystemRootPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(imagePath[i])) !=
        std::tolower(static_cast<unsigned char>(kSystemRootPrefix[i])))
      return std::string(imagePath);
  }
  std::string rest(imagePath.substr(kSystemRootPrefix.size()));
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return (platform::windowsDirectory() / rest).string();
}

}  // namespace

// ---- Cards of this machine -------------------------------------------------------------

SysfsCardSource::SysfsCardSource(const fs::path& root) : sources_(capture::AdapterInfoSources::underRoot(root)) {}

void SysfsCardSource::platform(std::string& release, std::string& version) const {
  utsname system{};
  ::uname(&system);
  release = system.release;
  version = system.version;
}

bool SysfsCardSource::openCards() {
  std::error_code ec;
  fs::directory_iterator entries(sources_.netClass, ec);
  if (ec) return false;
  std::vector<std::pair<int, std::string>> found;
  for (const fs::directory_entry& entry : entries) {
    std::error_code deviceError;
    if (!fs::exists(entry.path() / "device", deviceError)) continue;  // not a card
    found.emplace_back(interfaceIndex(entry.path()), entry.path().filename().string());
  }
  std::sort(found.begin(), found.end());
  interfaces_.clear();
  for (size_t i = 0; i < found.size() && i < static_cast<size_t>(kMaxInstalledCards); ++i)
    interfaces_.push_back(found[i].second);
  return true;
}

bool SysfsCardSource::card(int number, InstalledCard& card) const {
  if (number < 1 || static_cast<size_t>(number) > interfaces_.size()) return false;
  const std::string& name = interfaces_[static_cast<size_t>(number) - 1];
  const capture::AdapterInfo info = capture::describeAdapter(name, sources_);
  const capture::HardwareNames names = capture::hardwareNamesOf(sources_.netClass / name, sources_);
  card.productName = names.device.empty() ? info.title : names.device;
  card.description = info.title;
  card.manufacturer = names.vendor;
  card.serviceName = name;
  card.driverImagePath = info.driverFile;
  return true;
}

// ---- The report ------------------------------------------------------------------------------

void writeDriverText(std::string_view imagePath, char* text, size_t capacity) {
  if (capacity < kMinDriverTextCapacity) return;
  if (imagePath.empty()) {
    std::snprintf(text, capacity, "?");
    return;
  }
  const std::string path = driverFilePath(imagePath);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::snprintf(text, capacity, "%s", path.c_str());
    return;
  }
  const time_t written = st.st_mtime;
  tm local{};
  ::localtime_r(&written, &local);
  char when[64];
  std::strftime(when, sizeof when, "%X  %d-%B-%Y", &local);
  std::snprintf(text, capacity, "%-12s %9ld  %s", fs::path(path).filename().c_str(), static_cast<long>(st.st_size),
                when);
}

size_t writeAdaptersReport(InstalledCardSource& source, char* area, size_t capacity) {
  if (capacity > 0) std::memset(area, 0, capacity);
  if (capacity < kMinReportCapacity) return 0;
  ReportText report(area, capacity);
  report.append("INSTALLED NETWORK ADAPTERS\r\n");
  std::string release, version;
  source.platform(release, version);
  report.append("\r\n  Platform    : Linux %.64s  %.128s\r\n", release.c_str(), version.c_str());
  if (!source.openCards()) {
    report.append("\r\nCOULD NOT LOCATE ANY INSTALL NETWORK CARDS\r\n");
    return report.length();
  }
  for (int number = 1; number <= kMaxInstalledCards && report.left() >= 100; ++number) {
    InstalledCard card;
    if (!source.card(number, card)) break;  // the first missing number ends the list
    appendCard(report, card);
  }
  return report.length();
}

// System facts come from the running system; VELTRIS_ROOT holds only the agent's own files.
size_t writeAdaptersReport(char* area, size_t capacity) {
  SysfsCardSource source("/");
  return writeAdaptersReport(source, area, capacity);
}

}  // namespace veltris::agent
