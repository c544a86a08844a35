#pragma once
// What the client checks in a request before it sends it: the agent answers a
// request it does not know with the totals record alone, so a typing error
// would otherwise look like success.
#include <cstdint>
#include <string>

namespace veltris::cli {

constexpr size_t kMaxRequestLength = 255;

struct RequestCheck {
  std::string request;  // the text to send (a bare "CFG" gets its blank)
  std::string error;    // non-empty: do not send
  std::string note;     // non-empty: send, but tell the user
  bool unknownWord = false;  // the agent will not know the word
};

// `follow`: the request's number is the client's to fill in (--follow).
RequestCheck checkRequest(const std::string& text, bool follow);

// True for "STATS_PRO", "DETAILS" and "ERRORS", whose number asks for what is newer.
bool takesSequenceNumber(const std::string& request);

// The request with its number replaced by `sequence` ("STATS_PRO 0" -> "STATS_PRO 812").
std::string withSequenceNumber(const std::string& request, uint32_t sequence);

// The number a "STATS_PRO", "DETAILS" or "ERRORS" request carries, 0 when it has none.
uint32_t sequenceNumberOf(const std::string& request);

}  // namespace veltris::cli
