// Bounded byte reader and writer: every parser and serialiser of stored or
// received bytes goes through these, so no parser can read past its input
// and no writer past its output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace zyl {

enum class Endian { Big, Little };

// Reads from a fixed span. A read past the end yields 0 and sets the sticky
// failure flag, so a parser can read a whole header and check ok() once.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> data, Endian endian = Endian::Big)
      : data_(data), endian_(endian) {}

  bool ok() const { return ok_; }
  std::size_t pos() const { return pos_; }
  std::size_t size() const { return data_.size(); }
  std::size_t remaining() const { return data_.size() - pos_; }
  bool has(std::size_t n) const { return n <= remaining(); }

  void seek(std::size_t pos) {
    if (pos > data_.size()) {
      ok_ = false;
      pos_ = data_.size();
    } else {
      pos_ = pos;
    }
  }
  void skip(std::size_t n) { seek(n <= remaining() ? pos_ + n : data_.size() + 1); }

  std::uint8_t u8() { return static_cast<std::uint8_t>(take(1)); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
  std::uint32_t u24() { return static_cast<std::uint32_t>(take(3)); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
  std::int8_t s8() { return static_cast<std::int8_t>(u8()); }
  std::int16_t s16() { return static_cast<std::int16_t>(u16()); }
  std::int32_t s32() { return static_cast<std::int32_t>(u32()); }

  // Copies n bytes into out; on a short input copies nothing and fails.
  bool bytes(std::uint8_t* out, std::size_t n) {
    if (!has(n)) {
      ok_ = false;
      pos_ = data_.size();
      return false;
    }
    if (n) std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  std::span<const std::uint8_t> view(std::size_t n) {
    if (!has(n)) {
      ok_ = false;
      pos_ = data_.size();
      return {};
    }
    auto s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
  }

 private:
  std::uint64_t take(std::size_t n) {
    if (!has(n)) {
      ok_ = false;
      pos_ = data_.size();
      return 0;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
      std::uint64_t b = data_[pos_ + i];
      if (endian_ == Endian::Big)
        v = (v << 8) | b;
      else
        v |= b << (8 * i);
    }
    pos_ += n;
    return v;
  }

  std::span<const std::uint8_t> data_;
  Endian endian_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// Writes into a fixed span; a write past the end writes nothing and sets the
// sticky failure flag.
class ByteWriter {
 public:
  explicit ByteWriter(std::span<std::uint8_t> out, Endian endian = Endian::Big)
      : out_(out), endian_(endian) {}

  bool ok() const { return ok_; }
  std::size_t pos() const { return pos_; }
  std::size_t remaining() const { return out_.size() - pos_; }

  void u8(std::uint32_t v) { put(v, 1); }
  void u16(std::uint32_t v) { put(v, 2); }
  void u24(std::uint32_t v) { put(v, 3); }
  void u32(std::uint32_t v) { put(v, 4); }
  void bytes(const std::uint8_t* in, std::size_t n) {
    if (n > remaining()) {
      ok_ = false;
      return;
    }
    if (n) std::memcpy(out_.data() + pos_, in, n);
    pos_ += n;
  }
  void fill(std::uint8_t value, std::size_t n) {
    if (n > remaining()) {
      ok_ = false;
      return;
    }
    std::memset(out_.data() + pos_, value, n);
    pos_ += n;
  }
  // Room for n bytes that the caller fills (a size-or-write routine, say);
  // null with the failure flag set when they do not fit.
  std::uint8_t* reserve(std::size_t n) {
    if (n > remaining()) {
      ok_ = false;
      return nullptr;
    }
    std::uint8_t* p = out_.data() + pos_;
    pos_ += n;
    return p;
  }
  // Overwrites an earlier field (a length filled in last, say).
  void patch_u16(std::size_t at, std::uint32_t v) { patch(at, v, 2); }
  void patch_u32(std::size_t at, std::uint32_t v) { patch(at, v, 4); }

 private:
  void put(std::uint64_t v, std::size_t n) {
    if (n > remaining()) {
      ok_ = false;
      return;
    }
    patch(pos_, v, n);
    pos_ += n;
  }
  void patch(std::size_t at, std::uint64_t v, std::size_t n) {
    if (at > out_.size() || n > out_.size() - at) {
      ok_ = false;
      return;
    }
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t shift = endian_ == Endian::Big ? 8 * (n - 1 - i) : 8 * i;
      out_[at + i] = static_cast<std::uint8_t>(v >> shift);
    }
  }

  std::span<std::uint8_t> out_;
  Endian endian_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace zyl
