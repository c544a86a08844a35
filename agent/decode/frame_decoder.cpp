#include "agent/decode/frame_decoder.h"

#include <cstring>
#include <mutex>

#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {

void DecodeState::setDestination(std::string_view text) {
  size_t n = std::min(text.size(), kDetailDestinationSize - 1);
  std::memcpy(record_.destination, text.data(), n);
  record_.destination[n] = '\0';
}

void DecodeState::commit() {
  if (descriptionWritten_) {
    size_t n = std::min(description_.size(), kDetailDescriptionSize);
    std::memcpy(record_.description, description_.view().data(), n);
    if (n < kDetailDescriptionSize) {
      if (descriptionZeroPadded_) {
        std::memset(record_.description + n, 0, kDetailDescriptionSize - n);
      } else {
        record_.description[n] = '\0';
      }
    }
  }
  if (protocolWritten_) {
    size_t n = protocol_.size();
    std::memcpy(record_.protocol, protocol_.view().data(), n);
    record_.protocol[n] = '\0';
  }
}

void addHardwareAddress(FixedText<32>& text, FrameView view, size_t off) {
  for (size_t i = 0; i < 6; ++i) text.hex(view.u8(off + i), 2);
}

void readIpv4(FrameView view, size_t off, uint8_t (&out)[4]) { view.copy(off, 4, out); }

DecodeContext decodeContextFor(const agent::NicArea& nic, agent::AddressLists& addressCopy) {
  DecodeContext context;
  context.mediaType = nic.mediaType.load(std::memory_order_relaxed);
  // A WAN adapter learns its station address from its first frame, under the table lock.
  std::lock_guard lock(nic.tableMutex);
  std::memcpy(context.ownAddress, nic.station, sizeof context.ownAddress);
  addressCopy = nic.addresses;
  context.addresses = &addressCopy;
  return context;
}

void prepareDecodedFields(DetailRecord& record) {
  std::memset(record.destination, ' ', sizeof record.destination);
  std::memset(record.description, ' ', sizeof record.description);
  std::memset(record.protocol, 0, sizeof record.protocol);
}

void describeFrame(const DecodeContext& context, std::span<const uint8_t> frame, DetailRecord& record) {
  FrameView view(frame);
  DecodeState state(context, record);
  if (context.mediaType == capture::kMedium8023) {
    decodeEthernet(state, view);
  } else if (context.mediaType == capture::kMedium8025) {
    decodeTokenRing(state, view);
  } else {
    return;
  }
  state.commit();
}

}  // namespace veltris::agent::decode
