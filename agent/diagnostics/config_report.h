#pragma once
// The configuration report: each monitored adapter's TCP/IP set-up with the
// warnings for set-ups that commonly break a LAN connection. Building it also
// stores each adapter's address lists (own, masks, gateways, DNS, WINS) and
// sets the IP summary of the GLOBAL area once.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "agent/core/runtime.h"
#include "agent/core/state.h"
#include "platform/netconfig/config_source.h"

namespace veltris::agent {

constexpr size_t kReportMinimumCapacity = 4000;
constexpr size_t kReportStepLimit = 1024;  // each formatting step, terminator included
constexpr size_t kSlotWidth = 16;          // an address in 15 characters and a blank
constexpr size_t kSlotFormLimit = 800;     // 50 slots

// Writes the report, zero-terminated, into `area`. A capacity below 4000
// gives "ERROR - BUFFER TOO SMALL" and changes nothing else.
void writeConfigReport(GlobalArea& global, netconfig::ConfigSource& source, uint32_t now, char* area,
                       size_t capacity);
// The same with the running agent's clock and configuration source.
void writeConfigReport(AgentRuntime& rt, char* area, size_t capacity);

// The slot form of an address value: each address left-justified in 15
// characters and a blank. A blank or a NUL ends an address; two in a row give
// an empty slot; an address is cut at 15 characters; at most 50 slots.
std::string slotForm(std::string_view value);

// Slot k of a slot form (16 characters), or empty when the form is shorter.
std::string_view slotAt(std::string_view slots, size_t k);

// The list from a slot form: each slot through the dotted-quad parser
// (255.255.255.255 for a malformed one), up to 50; zero behind the last.
void addressListFromSlots(std::string_view slots, uint32_t (&list)[kAddressListSize]);

}  // namespace veltris::agent
