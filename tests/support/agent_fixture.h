#pragma once
// Shared by the request tests: an agent runtime with a settable clock and
// adapters, in a scratch directory that is the history folder (TZ=UTC).
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agent/core/runtime.h"
#include "common/le.h"
#include "common/records.h"
#include "common/text_field.h"

namespace veltris::agent::testing {

class FixedClock final : public Clock {
 public:
  uint32_t now() override { return time; }
  bool waitForStop(const Event& stop, std::chrono::milliseconds) override { return stop.isSet(); }
  void sleep(std::chrono::milliseconds) override {}
  uint32_t time = 0;
};

// Seconds since 1970 of a UTC date and time.
inline uint32_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  struct tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<uint32_t>(timegm(&t));
}

// Little-endian reads of reply bytes, independent of the record structs.
inline uint32_t u32At(const std::string& bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(bytes.at(offset + i));
  return v;
}
inline float f32At(const std::string& bytes, size_t offset) {
  uint32_t bits = u32At(bytes, offset);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}
// Bytes from hexadecimal pairs; blanks between them are ignored.
inline std::string hexBytes(std::string_view hex) {
  std::string out;
  int high = -1;
  for (char c : hex) {
    if (c == ' ' || c == '\n') continue;
    int v = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}
inline std::string padded(std::string text, size_t width, char pad) {
  text.resize(width, pad);
  return text;
}
inline std::string textAt(const std::string& bytes, size_t offset, size_t width) { return bytes.substr(offset, width); }

class AgentFixture {
 public:
  AgentFixture() {
    if (const char* tz = getenv("TZ")) previousTz_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
    char pattern[] = "/tmp/veltris-requests-XXXXXX";
    dir_ = mkdtemp(pattern);
    setenv("VELTRIS_ROOT", dir_.c_str(), 1);
    char cwd[4096];
    previous_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    if (chdir(dir_.c_str()) != 0) std::abort();
    rt.clock = &clock;
    std::strcpy(rt.global.hostName, "PC01");
  }
  ~AgentFixture() {
    if (chdir(previous_.c_str()) != 0) std::abort();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    unsetenv("VELTRIS_ROOT");
    if (previousTz_.empty()) unsetenv("TZ");
    else setenv("TZ", previousTz_.c_str(), 1);
    tzset();
  }

  NicArea& addAdapter(const char* name = "eth0") {
    int i = rt.global.adapterCount++;
    rt.global.nics[i] = std::make_unique<NicArea>();
    NicArea& nic = *rt.global.nics[i];
    nic.index = i;
    std::strncpy(nic.adapterName, name, sizeof nic.adapterName - 1);
    return nic;
  }

  // Puts a partner into the table as the capture thread would have made it.
  static Partner& addPartner(NicArea& nic, const char* station, const char* protoAddr, uint32_t changeStamp) {
    std::lock_guard lock(nic.tableMutex);
    Partner& p = nic.partners[nic.partnerCount++];
    std::memset(&p.record, 0, sizeof p.record);
    copyText(p.record.station, sizeof p.record.station, station);
    copyText(p.record.protoAddr, sizeof p.record.protoAddr, protoAddr);
    p.record.changeStamp = changeStamp;
    p.bytesSent = 0;
    p.bytesReceived = 0;
    return p;
  }

  static void appendFile(const std::string& name, const void* data, size_t size) {
    std::ofstream out(name, std::ios::binary | std::ios::app);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  const std::filesystem::path& dir() const { return dir_; }

  FixedClock clock;
  AgentRuntime rt;

 private:
  std::filesystem::path dir_;
  std::string previous_;
  std::string previousTz_;
};

}  // namespace veltris::agent::testing
