// Random frames through the frame decoder: the first input byte picks the
// medium and whether this adapter sent the frame, the rest is the frame.
// Every text must stay inside its field and no other field may change.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/decode/frame_decoder.h"
#include "common/text_field.h"

using veltris::DetailRecord;
namespace decode = veltris::agent::decode;

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool unchanged(const DetailRecord& before, const DetailRecord& after, size_t from, size_t to) {
  return std::memcmp(reinterpret_cast<const char*>(&before) + from, reinterpret_cast<const char*>(&after) + from,
                     to - from) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Reserved Token Ring frame types print a warning line; keep the fuzzer's output readable.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static veltris::agent::AddressLists lists = [] {
    veltris::agent::AddressLists l;
    l.own[0] = 0x0500000A;  // 10.0.0.5
    l.gateways[0] = 0x0100000A;
    l.dns[0] = 0x0200000A;
    l.wins[0] = 0x0300000A;
    return l;
  }();
  decode::DecodeContext context;
  context.mediaType = data[0] % 3;  // 802.3, 802.5 or another medium
  context.addresses = (data[0] & 0x10) != 0 ? &lists : nullptr;
  if ((data[0] & 0x20) != 0 && size >= 15) std::memcpy(context.ownAddress, data + 9, 6);

  DetailRecord record;
  std::memset(&record, 0xA5, sizeof record);
  veltris::copyText(record.station, sizeof record.station, "00A024112233");
  veltris::copyText(record.protoAddr, sizeof record.protoAddr, "IP 10.0.0.9");
  decode::prepareDecodedFields(record);
  DetailRecord before = record;
  decode::describeFrame(context, {data + 1, size - 1}, record);

  require(unchanged(before, record, offsetof(DetailRecord, destination), offsetof(DetailRecord, description)) ||
          strnlen(record.destination, sizeof record.destination) < sizeof record.destination);
  require(strnlen(record.protocol, sizeof record.protocol) < sizeof record.protocol);
  require(strnlen(record.station, sizeof record.station) < sizeof record.station);
  require(strnlen(record.protoAddr, sizeof record.protoAddr) < sizeof record.protoAddr);
  require(unchanged(before, record, 0, offsetof(DetailRecord, station)));
  require(unchanged(before, record, offsetof(DetailRecord, roleLabel), offsetof(DetailRecord, direction)));
  require(unchanged(before, record, offsetof(DetailRecord, errorText), sizeof record));
  return 0;
}
