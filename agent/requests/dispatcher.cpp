#include "agent/requests/dispatcher.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>

#include "agent/capture/adapter_status.h"
#include "agent/core/names.h"
#include "agent/diagnostics/adapters_report.h"
#include "agent/diagnostics/config_report.h"
#include "agent/diagnostics/connectivity_tests.h"
#include "agent/diagnostics/external_command.h"
#include "agent/diagnostics/role_labels.h"
#include "agent/requests/detail_replies.h"
#include "agent/requests/snapshot_writer.h"
#include "agent/requests/statistics_replies.h"
#include "common/text_field.h"

namespace veltris::agent {

// ---- Request -------------------------------------------------------------

Request::Request(const uint8_t bytes[kRequestSize]) {
  std::memcpy(bytes_, bytes, kRequestSize);
  length_ = ::strnlen(text(), kRequestSize);
}

Request::Request(std::string_view text) {
  if (!text.empty()) std::memcpy(bytes_, text.data(), std::min(text.size(), kRequestSize));
  length_ = ::strnlen(this->text(), kRequestSize);
}

bool Request::matches(size_t offset, std::string_view word, size_t width, bool foldCase) const {
  for (size_t i = 0; i < width; ++i) {
    uint8_t expected = i < word.size() ? static_cast<uint8_t>(word[i]) : 0;
    uint8_t actual = at(offset + i);
    if (foldCase) actual = static_cast<uint8_t>(std::toupper(actual));
    if (actual != expected) return false;
  }
  return true;
}

std::string_view Request::textFrom(size_t offset) const {
  if (offset >= length_) return {};
  return {text() + offset, length_ - offset};
}

std::string_view Request::field(size_t offset, size_t width) const {
  if (offset >= length_) return {};
  return {text() + offset, std::min(width, length_ - offset)};
}

uint32_t Request::number(size_t offset) const {
  size_t i = offset;
  while (at(i) == ' ' || at(i) == '\t') ++i;
  bool negative = at(i) == '-';
  if (at(i) == '-' || at(i) == '+') ++i;
  uint32_t value = 0;
  for (; std::isdigit(at(i)); ++i) value = value * 10 + static_cast<uint32_t>(at(i) - '0');
  return negative ? 0u - value : value;
}

// ---- Answers ---------------------------------------------------------------

namespace {

constexpr size_t kCommandTextOffset = 4;  // behind "CMD "

template <typename Record>
void appendRecord(std::string& body, const Record& record) {
  body.append(reinterpret_cast<const char*>(&record), sizeof record);
}

bool answerTotals(DispatchContext&) { return true; }

bool answerOpen(DispatchContext& c) {
  refreshRoleLabels(c.rt);
  return true;
}

bool answerHistoryList(DispatchContext& c) {
  appendHistoryList(c.body);
  return true;
}

bool answerDayTotals(DispatchContext& c) {  // replaces
  c.body.clear();
  appendDayTotals(c.rt.global, c.request.textFrom(4), c.now, c.body);
  return true;
}

bool answerDayPartners(DispatchContext& c) {  // replaces
  c.body.clear();
  appendDayPartners(c.rt.global, c.request.field(4, 8), c.now, c.body);
  return true;
}

bool answerPartnerChanges(DispatchContext& c) {
  appendPartnerChanges(c.rt.global, c.request.number(9), c.body);
  return true;
}

// Added for IPv6: the full addresses behind the partner texts, which may show them cut.
bool answerIpv6Addresses(DispatchContext& c) {
  appendIpv6Addresses(c.rt.global, c.request.number(10), c.body);
  return true;
}

void appendAdapterStatus(const NicArea& nic, uint32_t index, std::string& body) {
  std::shared_ptr<capture::Device> device = nic.device();  // kept open while the record is built
  uint8_t station[6];
  {
    std::lock_guard lock(nic.tableMutex);
    std::memcpy(station, nic.station, sizeof station);
  }
  AdapterIdentity identity{nic.adapterName, nic.title, nic.driverText, station, nic.mediaType.load(),
                           nic.wan.load(), device.get()};
  uint8_t record[kAdapterStatusSize];
  buildAdapterStatus(identity, index, record);
  body.append(reinterpret_cast<const char*>(record), sizeof record);
}

bool answerAdapterStatus(DispatchContext& c) {  // replaces
  c.body.clear();
  const GlobalArea& global = c.rt.global;
  for (int i = 0; i < global.adapterCount && i < kMaxAdapters; ++i) {
    if (global.nics[i]) appendAdapterStatus(*global.nics[i], static_cast<uint32_t>(i), c.body);
  }
  return true;
}

bool answerCommand(DispatchContext& c) {  // replaces, when the command has a producer
  const CommandWord* command = findCommandWord(c.request);
  if (command == nullptr || command->producer == nullptr) return false;
  char* area = startTextReply(c.body);
  command->producer(c, area, kTextAreaSize);
  area[kTextAreaSize - 1] = '\0';
  return true;
}

void stopAgent(DispatchContext& c, char* area, size_t capacity) {
  copyText(area, capacity, "Tapsor Service terminating");
  if (c.rt.shutdown) c.rt.shutdown();  // before the reply goes out
}

// ---- The diagnostics' producers ---------------------------------------------

bool answerInstalledAdapters(DispatchContext& c) {  // replaces
  writeAdaptersReport(startTextReply(c.body), kTextAreaSize);
  return true;
}

void produceConfigReport(DispatchContext& c, char* area, size_t capacity) { writeConfigReport(c.rt, area, capacity); }

void produceSubnetTest(DispatchContext& c, char* area, size_t capacity) { subnetTest(c.rt.global, area, capacity); }

template <PingTarget target>
void producePing(DispatchContext& c, char* area, size_t capacity) {
  pingServers(c.rt.global, target, area, capacity, runExternalCommand);
}

void produceFullTest(DispatchContext& c, char* area, size_t capacity) { fullTest(c.rt, area, capacity); }

// The command text from offset 4 of the request.
void produceExternalCommand(DispatchContext& c, char* area, size_t capacity) {
  const std::string command(c.request.textFrom(kCommandTextOffset));
  runExternalCommand(command.c_str(), area, capacity, &c.rt);
}

bool answerDetails(DispatchContext& c) {
  appendDetails(c.rt.global, c.request.number(7), c.body);
  return true;
}

bool answerErrors(DispatchContext& c) {
  appendErrors(c.rt.global, c.request.number(7), c.body);
  return true;
}

bool answerBroadcastsSent(DispatchContext& c) {  // replaces
  c.body.clear();
  buildBroadcastsSent(c.rt.global, c.now, c.request.matches(10, "LOW", 3, false), c.body);
  return true;
}

bool answerBroadcasters(DispatchContext& c) {  // replaces
  c.body.clear();
  buildBroadcasters(c.rt.global, c.now, c.request.matches(9, "LOW", 3, false), c.body);
  return true;
}

// Rows with a null answer belong to replies this agent does not build yet.
constexpr std::array<RequestWord, 15> kRequestWords{{
    {"TOTAL", 5, answerTotals},
    {"OPEN", 4, answerOpen},
    {"SNAPSHOT", 8, answerSnapshot},
    {"CMD ", 4, answerCommand},
    {"CFG ", 4, answerInstalledAdapters},
    {"HISTORY_LIST", 12, answerHistoryList},
    {"TPT ", 4, answerDayTotals},
    {"TPS ", 4, answerDayPartners},
    {"DETAILS", 7, answerDetails},
    {"ERRORS", 6, answerErrors},
    {"STATS_PRO", 9, answerPartnerChanges},
    {"OID", 3, answerAdapterStatus},
    {"BCASTSENT", 9, answerBroadcastsSent},
    {"BCASTERS", 8, answerBroadcasters},
    {"ADDRESSES6", 10, answerIpv6Addresses},
}};

// The texts behind "CMD ", compared ignoring case. The PING rows are tried only
// for a command starting with "PING "; "PING WINS" counts its terminator.
constexpr size_t kFirstPingRow = 0;
constexpr size_t kLastPingRow = 3;
constexpr std::array<CommandWord, 9> kCommandWords{{
    {"PING GW", 7, producePing<PingTarget::Gateways>},
    {"PING DNS", 8, producePing<PingTarget::DnsServers>},
    {"PING WINS", 10, producePing<PingTarget::WinsServers>},
    {"PING ", 5, produceExternalCommand},  // any other PING: an external command
    {"CONFIG", 6, produceConfigReport},
    {"SUBNET", 6, produceSubnetTest},
    {"TEST", 4, produceFullTest},
    {"VELTRISV STOP", 13, stopAgent},
    {"", 0, produceExternalCommand},  // anything else: an external command
}};


}  // namespace

// ---- Tables and dispatch ----------------------------------------------------

std::span<const RequestWord> requestWords() { return kRequestWords; }
std::span<const CommandWord> commandWords() { return kCommandWords; }

const RequestWord* findRequestWord(const Request& request) {
  for (const RequestWord& word : kRequestWords) {
    if (request.matches(0, word.text, word.width, false)) return &word;
  }
  return nullptr;
}

bool answeredFromMemory(const Request& request) {
  const RequestWord* word = findRequestWord(request);
  return word != nullptr && (word->answer == answerTotals || word->answer == answerPartnerChanges);
}

int requestWordRow(const Request& request) {
  const RequestWord* word = findRequestWord(request);
  return word != nullptr ? static_cast<int>(word - kRequestWords.data()) : -1;
}

const CommandWord* findCommandWord(const Request& request) {
  const bool ping = request.matches(kCommandTextOffset, "PING ", 5, true);
  for (size_t row = 0; row < kCommandWords.size(); ++row) {
    if (!ping && row >= kFirstPingRow && row <= kLastPingRow) continue;
    const CommandWord& command = kCommandWords[row];
    if (request.matches(kCommandTextOffset, command.text, command.width, true)) return &command;
  }
  return nullptr;  // not reached: the last row matches everything
}

void dispatchRequest(AgentRuntime& rt, const Request& request, std::string& body) {
  DispatchContext context{rt, request, rt.clock->now(), body};
  appendTotalsRecord(rt.global, context.now, body);
  const RequestWord* word = findRequestWord(request);
  if (word != nullptr && word->answer != nullptr && word->answer(context)) return;
  consolePrint("ERROR - Unknown request '%s'\n", printableText({request.text(), request.length()}).c_str());
}

char* startTextReply(std::string& body) {
  body.assign(sizeof(TextReply), '\0');
  std::memcpy(body.data(), kTextReplyTag, 4);
  return body.data() + offsetof(TextReply, text);
}

void setTextReply(std::string& body, std::string_view text) {
  char* area = startTextReply(body);
  std::memcpy(area, text.data(), std::min(text.size(), kTextAreaSize - 1));
}

void refreshRoleLabels(AgentRuntime& rt) {
  if (rt.refreshRoleLabels) {
    rt.refreshRoleLabels();
    return;
  }
  relabelPartners(rt.global);
}

}  // namespace veltris::agent
