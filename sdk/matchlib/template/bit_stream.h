// Most-significant-bit-first bit strings, as the packed template sections
// store them (a run of big-endian words reads as one plain bit string).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zyl::matchlib {

// Writes fields of up to 32 bits into a zero-filled span; a field past the
// end writes nothing and sets the sticky failure flag.
class BitWriter {
 public:
  explicit BitWriter(std::span<std::uint8_t> out) : out_(out) {}

  bool ok() const { return ok_; }
  std::size_t bit_pos() const { return pos_; }

  void put(std::uint32_t value, unsigned bits) {
    if (bits == 0) return;
    if (bits > out_.size() * 8 || pos_ > out_.size() * 8 - bits) {
      ok_ = false;
      return;
    }
    for (unsigned i = bits; i-- > 0;) {
      if ((value >> i) & 1u) out_[pos_ >> 3] |= static_cast<std::uint8_t>(0x80u >> (pos_ & 7));
      ++pos_;
    }
  }

 private:
  std::span<std::uint8_t> out_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// Reads fields of up to 32 bits; bits past the end of the input read as zero
// and set the exhausted flag, so no read leaves the input.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> in) : in_(in) {}

  bool exhausted() const { return exhausted_; }
  std::size_t bit_pos() const { return pos_; }
  std::size_t bits_left() const { return pos_ < in_.size() * 8 ? in_.size() * 8 - pos_ : 0; }

  std::uint32_t get(unsigned bits) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < bits; ++i) {
      std::uint32_t bit = 0;
      if ((pos_ >> 3) < in_.size())
        bit = (in_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u;
      else
        exhausted_ = true;
      v = (v << 1) | bit;
      ++pos_;
    }
    return v;
  }

 private:
  std::span<const std::uint8_t> in_;
  std::size_t pos_ = 0;
  bool exhausted_ = false;
};

}  // namespace zyl::matchlib
