#pragma once
// The request dispatcher: recognises the request word by comparing a fixed
// number of leading bytes, takes arguments from fixed offsets and has the
// owning builder fill the reply body.
//
// The body always starts as the totals record. A word whose reply replaces it
// empties the body in its answer function, right before building; builders it
// calls therefore get an empty body and append to it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "agent/core/runtime.h"
#include "common/reply_records.h"

namespace veltris::agent {

// A request as the RPC call delivers it: 256 bytes, text ending at the first
// NUL or after all 256 bytes. Reads past the 256 bytes see zero.
class Request {
 public:
  explicit Request(const uint8_t bytes[kRequestSize]);
  explicit Request(std::string_view text);  // the first 256 bytes, zero behind them

  uint8_t at(size_t offset) const { return offset < kRequestSize ? bytes_[offset] : 0; }
  const char* text() const { return reinterpret_cast<const char*>(bytes_); }  // always terminated
  size_t length() const { return length_; }

  // The `width` bytes at `offset` equal `word` followed by zero bytes; letters
  // folded to upper case when `foldCase`. A width past the word's terminator
  // therefore matches only a request that ends there.
  bool matches(size_t offset, std::string_view word, size_t width, bool foldCase) const;
  // Text from `offset` to the terminator (empty past it).
  std::string_view textFrom(size_t offset) const;
  // At most `width` bytes from `offset`, ending early at the terminator.
  std::string_view field(size_t offset, size_t width) const;
  // A signed decimal number after optional blanks, taken modulo 2^32; 0 when absent.
  uint32_t number(size_t offset) const;

 private:
  uint8_t bytes_[kRequestSize + 1] = {};
  size_t length_ = 0;
};

struct DispatchContext {
  AgentRuntime& rt;
  const Request& request;
  uint32_t now;  // read once per request
  std::string& body;
};

// Answers a recognised word; false leaves the body untouched and takes the
// unknown-request path (a reply whose producer is not part of this agent).
using WordAnswer = bool (*)(DispatchContext&);

struct RequestWord {
  std::string_view text;
  size_t width;       // bytes compared, exact
  WordAnswer answer;  // null: unknown-request path
};

// Writes the text of a "CMD " command into a 4096-byte text area (NUL-terminated).
using CommandProducer = void (*)(DispatchContext&, char* area, size_t capacity);

struct CommandWord {
  std::string_view text;
  size_t width;              // bytes compared from offset 4, ignoring case
  CommandProducer producer;  // null: unknown-request path
};

// The tables, top to bottom as they are tested.
std::span<const RequestWord> requestWords();
std::span<const CommandWord> commandWords();

// The first row that matches, or null.
// True for the poll's words ("TOTAL", "STATS_PRO"), answered from the tables in
// memory within microseconds, without files, devices or other programs.
bool answeredFromMemory(const Request& request);
const RequestWord* findRequestWord(const Request& request);
const CommandWord* findCommandWord(const Request& request);  // for a "CMD " request
// The row of the request word in requestWords(), or -1.
int requestWordRow(const Request& request);

// Builds the reply body for `request` (totals record first, see above).
void dispatchRequest(AgentRuntime& rt, const Request& request, std::string& body);

// Empties the body and makes it one text reply: "TXT4" and 4096 zero bytes.
// Answers the text area, to be filled with at most 4095 characters.
char* startTextReply(std::string& body);
// The same, filled with `text`.
void setTextReply(std::string& body, std::string_view text);

// Role labels refresh before "OPEN": the runtime's hook when set (the whole
// refresh, see installDiagnostics), otherwise the relabelling from the address
// lists as they stand.
void refreshRoleLabels(AgentRuntime& rt);

}  // namespace veltris::agent
