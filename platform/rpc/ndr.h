#pragma once
// Bounded little-endian readers and writers for PDUs and NDR stubs. A read past
// the end yields zero and marks the reader failed, so decoders check ok() once
// after a group of reads instead of before each one.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/byte_order.h"
#include "platform/rpc/uuid.h"

namespace veltris::rpc {

class NdrReader {
 public:
  explicit NdrReader(std::span<const uint8_t> data) : data_(data) {}

  uint8_t u8();
  uint16_t u16();
  uint32_t u32();
  Uuid uuid();
  SyntaxId syntax();  // UUID, then major and minor version (16 bits each)
  std::span<const uint8_t> bytes(size_t count);
  void skip(size_t count) { take(count); }
  void align(size_t boundary);  // relative to the start of the data

  bool ok() const { return ok_; }
  void fail() { ok_ = false; }
  size_t position() const { return pos_; }
  size_t remaining() const { return data_.size() - pos_; }
  bool atEnd() const { return pos_ == data_.size(); }

 private:
  const uint8_t* take(size_t count);

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

class NdrWriter {
 public:
  explicit NdrWriter(std::vector<uint8_t>& out) : out_(out), base_(out.size()) {}

  void u8(uint8_t v) { out_.push_back(v); }
  void u16(uint16_t v);
  void u32(uint32_t v);
  void uuid(const Uuid& v) { bytes(v.bytes); }
  void syntax(const SyntaxId& v);
  void bytes(std::span<const uint8_t> v) { out_.insert(out_.end(), v.begin(), v.end()); }
  void zeros(size_t count) { out_.insert(out_.end(), count, 0); }
  void align(size_t boundary);  // relative to where this writer started

  size_t position() const { return out_.size() - base_; }
  void patchU16(size_t position, uint16_t v);
  void patchU32(size_t position, uint32_t v);

 private:
  std::vector<uint8_t>& out_;
  size_t base_;
};

}  // namespace veltris::rpc
