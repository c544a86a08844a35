#include "platform/rpc/ndr.h"

namespace veltris::rpc {

const uint8_t* NdrReader::take(size_t count) {
  if (!ok_ || count > remaining()) {
    ok_ = false;
    return nullptr;
  }
  const uint8_t* p = data_.data() + pos_;
  pos_ += count;
  return p;
}

uint8_t NdrReader::u8() {
  const uint8_t* p = take(1);
  return p ? p[0] : 0;
}

uint16_t NdrReader::u16() {
  const uint8_t* p = take(2);
  return p ? loadLe16(p) : 0;
}

uint32_t NdrReader::u32() {
  const uint8_t* p = take(4);
  return p ? loadLe32(p) : 0;
}

Uuid NdrReader::uuid() {
  Uuid uuid;
  if (const uint8_t* p = take(16)) {
    for (size_t i = 0; i < 16; ++i) uuid.bytes[i] = p[i];
  }
  return uuid;
}

SyntaxId NdrReader::syntax() {
  SyntaxId id;
  id.uuid = uuid();
  id.major = u16();
  id.minor = u16();
  return id;
}

std::span<const uint8_t> NdrReader::bytes(size_t count) {
  const uint8_t* p = take(count);
  return p ? std::span<const uint8_t>(p, count) : std::span<const uint8_t>();
}

void NdrReader::align(size_t boundary) {
  size_t misalignment = pos_ % boundary;
  if (misalignment != 0) take(boundary - misalignment);
}

void NdrWriter::u16(uint16_t v) {
  out_.push_back(static_cast<uint8_t>(v));
  out_.push_back(static_cast<uint8_t>(v >> 8));
}

void NdrWriter::u32(uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out_.push_back(static_cast<uint8_t>(v >> shift));
}

void NdrWriter::syntax(const SyntaxId& v) {
  uuid(v.uuid);
  u16(v.major);
  u16(v.minor);
}

void NdrWriter::align(size_t boundary) {
  size_t misalignment = position() % boundary;
  if (misalignment != 0) zeros(boundary - misalignment);
}

void NdrWriter::patchU16(size_t position, uint16_t v) {
  out_[base_ + position] = static_cast<uint8_t>(v);
  out_[base_ + position + 1] = static_cast<uint8_t>(v >> 8);
}

void NdrWriter::patchU32(size_t position, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) out_[base_ + position + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace veltris::rpc
