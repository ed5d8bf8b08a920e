// DES and 3DES over whole buffers: the C++ face of the routines declared in
// zylscan/des_buffer.h, with sizes carried by spans so that no call writes
// past its output.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "zylscan/des_buffer.h"

namespace zyl::device {

// Single DES takes an 8-byte key; triple DES a 16-byte (two-key) or a
// 24-byte (three-key) one.
enum class DesCipher { Single, Triple };

constexpr std::size_t kDesBlock = 8;
constexpr std::size_t des_padded_length(std::size_t length) {
  return (length + kDesBlock - 1) / kDesBlock * kDesBlock;
}

// ECB encipher with zero padding of a last partial block. out must hold
// des_padded_length(in.size()) bytes. Returns the padded length, or
// ZYL_DES_INVALID_INPUT (negative) for a bad key or a short output.
std::ptrdiff_t ecb_encrypt(DesCipher cipher, std::span<const std::uint8_t> in,
                           std::span<const std::uint8_t> key, std::span<std::uint8_t> out);

// ECB decipher. in.size() must be a multiple of 8 and out must hold it.
// Returns 0, or ZYL_DES_ECB_REFUSED (1) with out untouched.
int ecb_decrypt(DesCipher cipher, std::span<const std::uint8_t> in,
                std::span<const std::uint8_t> key, std::span<std::uint8_t> out);

// CBC. in.size() must be a multiple of 8 and out must hold it. iv is
// updated in place; a null iv means an all-zero one. Returns 0 or
// ZYL_DES_INVALID_INPUT.
int cbc_crypt(DesCipher cipher, bool encrypt, std::span<const std::uint8_t> in,
              std::span<const std::uint8_t> key, std::uint8_t* iv,
              std::span<std::uint8_t> out);

// The 3DES ECB pair used for stored and exchanged data.
inline std::ptrdiff_t triple_des_ecb_encrypt(std::span<const std::uint8_t> in,
                                             std::span<const std::uint8_t> key,
                                             std::span<std::uint8_t> out) {
  return ecb_encrypt(DesCipher::Triple, in, key, out);
}
inline int triple_des_ecb_decrypt(std::span<const std::uint8_t> in,
                                  std::span<const std::uint8_t> key,
                                  std::span<std::uint8_t> out) {
  return ecb_decrypt(DesCipher::Triple, in, key, out);
}

// The library's stored 24-byte 3DES key, a constant of the build.
const std::array<std::uint8_t, 24>& stored_key();

}  // namespace zyl::device
