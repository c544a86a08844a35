#pragma once
// How an adapter name is read: a live interface, or a capture file with an
// optional station address after '@' ("trace.pcap@02:00:00:00:00:05").
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltris::capture {

struct CaptureFileName {
  std::string path;
  bool hasStation = false;
  std::array<uint8_t, 6> station{};
};

// True for a name with a '/', one ending in .pcap, .pcapng or .cap, or an existing
// regular file (the station suffix not counted).
bool isCaptureFileName(std::string_view adapterName);

// Splits off the station suffix; false with `error` set when it is malformed.
bool parseCaptureFileName(std::string_view adapterName, CaptureFileName& name, std::string& error);

// A capture file name whose relative path is made absolute against the current
// directory (the station suffix kept); any other name unchanged.
std::string absoluteCaptureFileName(std::string_view adapterName);

// "02:00:00:00:00:05" or "02-00-00-00-00-05".
bool parseMacAddress(std::string_view text, std::array<uint8_t, 6>& mac);
std::string macText(const uint8_t* mac);

}  // namespace veltris::capture
