#pragma once
// The connectivity and subnet tests: subnet broadcasts seen against those
// configured, pings of the gateways, DNS and WINS servers through the command
// runner, the driver age check, and the full test under its headings. Each
// clears the area it is given and leaves zero-terminated text in it; text that
// does not fit is dropped while the steps still run.
#include <cstddef>
#include <cstdint>

#include "agent/core/runtime.h"
#include "agent/core/state.h"

namespace veltris::agent {

// Runs one command (e.g. "PING 10.0.0.1") into an area it clears first;
// answers the characters written.
using CommandRunner = size_t (*)(const char* commandText, char* area, size_t capacity);

enum class PingTarget { Gateways, DnsServers, WinsServers };

void subnetTest(GlobalArea& global, char* area, size_t capacity);

// "PING %s" for each address up to the first 0 (at most 50), each run's text
// behind the last; answers the characters written.
size_t pingList(const uint32_t (&list)[kAddressListSize], char* area, size_t capacity, CommandRunner run);

// The default text ("\r\nGATEWAY NOT DEFINED\r\n" and its kin), then every
// adapter's list from the beginning of the area.
void pingServers(GlobalArea& global, PingTarget target, char* area, size_t capacity, CommandRunner run);

// Warns of drivers dated 24 calendar months or more before `now`'s month.
void driverAgeCheck(const GlobalArea& global, uint32_t now, char* area, size_t capacity);

// Role labels refresh, driver age, subnet broadcasts, then the three pings.
void fullTest(AgentRuntime& rt, char* area, size_t capacity, CommandRunner run);
void fullTest(AgentRuntime& rt, char* area, size_t capacity);  // pings through TapsorCC

}  // namespace veltris::agent
