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
  out_.resize(out_.size() + 2);
  storeLe16(out_.data() + out_.size() - 2, v);
}

void NdrWriter::u32(uint32_t v) {
  out_.resize(out_.size() + 4);
  storeLe32(out_.data() + out_.size() - 4, v);
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

void NdrWriter::patchU16(size_t position, uint16_t v) { storeLe16(&out_.at(base_ + position + 1) - 1, v); }

void NdrWriter::patchU32(size_t position, uint32_t v) { storeLe32(&out_.at(base_ + position + 3) - 3, v); }

}  // namespace veltris::rpc
