#pragma once
// The frame decoder: turns the stored bytes of a frame into the destination,
// description and protocol texts of a detail record, from the link layer up.
//
// The description is cut at its 100 bytes (a text of 100 characters or more
// fills the field without a terminator); the protocol keeps at most 99
// characters and a terminator; the destination at most 27 and a terminator.
#include <cstdint>
#include <span>

#include "agent/core/state.h"
#include "agent/decode/port_names.h"
#include "common/detail_record.h"
#include "platform/capture/device.h"

namespace veltris::agent::decode {

// What the decoder needs to know about the adapter that captured the frame.
struct DecodeContext {
  int32_t mediaType = capture::kMedium8023;
  uint8_t ownAddress[6] = {};  // recognises Token Ring MAC frames sent by this PC
  // Address lists for the role labels of ARP texts; null = no labels.
  const agent::AddressLists* addresses = nullptr;
  // Port names; null = the system's services database.
  const PortNames* portNames = nullptr;
};

// A context for `nic`; its station address and address lists (into
// `addressCopy`) are copied under the adapter's table lock, so decoding never
// reads them while they change.
DecodeContext decodeContextFor(const agent::NicArea& nic, agent::AddressLists& addressCopy);

// Prepares the decoded fields as a reply builder does before decoding:
// destination and description blanks, protocol zero bytes.
void prepareDecodedFields(DetailRecord& record);

// Decodes `frame` (its stored bytes, of which at most 256 are read) into
// `record`. Writes destination, description and protocol; Token Ring MAC
// frames also write the station text, protocol and address text and
// direction marker. Frames of media other than 802.3 and 802.5 are left alone.
void describeFrame(const DecodeContext& context, std::span<const uint8_t> frame, DetailRecord& record);

// "Self", "GW", "DNS", "WINS" or "" for an IPv4 address (network byte order,
// as the address lists hold it).
const char* roleLabelFor(const agent::AddressLists& lists, uint32_t address);

}  // namespace veltris::agent::decode
