// DES and 3DES buffer routines over mbed TLS's DES module.
#include "device/des_buffer.h"

#include <mbedtls/des.h>

#include <climits>
#include <cstring>
#include <string_view>

#include "zyl_config.h"
#include "zylscan/des_buffer.h"

namespace zyl::device {
namespace {

static_assert(ZYL_DES_INVALID_INPUT == MBEDTLS_ERR_DES_INVALID_INPUT_LENGTH);

bool key_fits(DesCipher cipher, std::size_t key_length) {
  if (cipher == DesCipher::Single) return key_length == MBEDTLS_DES_KEY_SIZE;
  // Other 3DES key lengths have no caller; refusing them beats reading past
  // a short key or silently using part of a long one.
  return key_length == 2 * MBEDTLS_DES_KEY_SIZE || key_length == 3 * MBEDTLS_DES_KEY_SIZE;
}

// One key schedule, single or triple, for one direction; released on scope
// exit. Callers check key_fits first.
class DesSchedule {
 public:
  DesSchedule(DesCipher cipher, std::span<const std::uint8_t> key, bool encrypt)
      : triple_(cipher == DesCipher::Triple) {
    const unsigned char* k = key.data();
    if (!triple_) {
      mbedtls_des_init(&single_);
      encrypt ? mbedtls_des_setkey_enc(&single_, k) : mbedtls_des_setkey_dec(&single_, k);
    } else {
      mbedtls_des3_init(&triple_ctx_);
      if (key.size() == 2 * MBEDTLS_DES_KEY_SIZE)
        encrypt ? mbedtls_des3_set2key_enc(&triple_ctx_, k) : mbedtls_des3_set2key_dec(&triple_ctx_, k);
      else
        encrypt ? mbedtls_des3_set3key_enc(&triple_ctx_, k) : mbedtls_des3_set3key_dec(&triple_ctx_, k);
    }
  }
  ~DesSchedule() {
    if (triple_)
      mbedtls_des3_free(&triple_ctx_);
    else
      mbedtls_des_free(&single_);
  }
  DesSchedule(const DesSchedule&) = delete;
  DesSchedule& operator=(const DesSchedule&) = delete;

  void block(const std::uint8_t* in, std::uint8_t* out) {
    if (triple_)
      mbedtls_des3_crypt_ecb(&triple_ctx_, in, out);
    else
      mbedtls_des_crypt_ecb(&single_, in, out);
  }
  int cbc(bool encrypt, std::size_t length, std::uint8_t* iv, const std::uint8_t* in,
          std::uint8_t* out) {
    const int mode = encrypt ? MBEDTLS_DES_ENCRYPT : MBEDTLS_DES_DECRYPT;
    return triple_ ? mbedtls_des3_crypt_cbc(&triple_ctx_, mode, length, iv, in, out)
                   : mbedtls_des_crypt_cbc(&single_, mode, length, iv, in, out);
  }

 private:
  bool triple_;
  mbedtls_des_context single_;
  mbedtls_des3_context triple_ctx_;
};

constexpr int hex_digit(char c) {
  return c >= '0' && c <= '9' ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}

constexpr bool valid_key_hex(std::string_view hex) {
  if (hex.size() != 48) return false;
  for (char c : hex)
    if (hex_digit(c) < 0) return false;
  return true;
}
static_assert(valid_key_hex(ZYL_STORED_KEY_HEX), "ZYL_STORED_KEY must be 48 hex digits");

constexpr std::array<std::uint8_t, 24> parse_key(std::string_view hex) {
  std::array<std::uint8_t, 24> key{};
  for (std::size_t i = 0; i < key.size(); ++i)
    key[i] = static_cast<std::uint8_t>(hex_digit(hex[2 * i]) * 16 + hex_digit(hex[2 * i + 1]));
  return key;
}

constexpr std::array<std::uint8_t, 24> kStoredKey = parse_key(ZYL_STORED_KEY_HEX);

}  // namespace

std::ptrdiff_t ecb_encrypt(DesCipher cipher, std::span<const std::uint8_t> in,
                           std::span<const std::uint8_t> key, std::span<std::uint8_t> out) {
  const std::size_t padded = des_padded_length(in.size());
  if (!key_fits(cipher, key.size()) || out.size() < padded) return ZYL_DES_INVALID_INPUT;
  DesSchedule schedule(cipher, key, true);
  const std::size_t whole = in.size() / kDesBlock * kDesBlock;
  for (std::size_t at = 0; at < whole; at += kDesBlock)
    schedule.block(in.data() + at, out.data() + at);
  if (whole < in.size()) {
    std::uint8_t last[kDesBlock] = {};
    std::memcpy(last, in.data() + whole, in.size() - whole);
    schedule.block(last, out.data() + whole);
  }
  return static_cast<std::ptrdiff_t>(padded);
}

int ecb_decrypt(DesCipher cipher, std::span<const std::uint8_t> in,
                std::span<const std::uint8_t> key, std::span<std::uint8_t> out) {
  if (in.size() % kDesBlock != 0 || !key_fits(cipher, key.size()) || out.size() < in.size())
    return ZYL_DES_ECB_REFUSED;
  DesSchedule schedule(cipher, key, false);
  for (std::size_t at = 0; at < in.size(); at += kDesBlock)
    schedule.block(in.data() + at, out.data() + at);
  return 0;
}

int cbc_crypt(DesCipher cipher, bool encrypt, std::span<const std::uint8_t> in,
              std::span<const std::uint8_t> key, std::uint8_t* iv, std::span<std::uint8_t> out) {
  // The length is checked here as well as by mbed TLS so that a refused call
  // touches neither the output nor the caller's initial vector.
  if (in.size() % kDesBlock != 0 || !key_fits(cipher, key.size()) || out.size() < in.size())
    return ZYL_DES_INVALID_INPUT;
  std::uint8_t zero_iv[kDesBlock] = {};
  DesSchedule schedule(cipher, key, encrypt);
  return schedule.cbc(encrypt, in.size(), iv ? iv : zero_iv, in.data(), out.data());
}

const std::array<std::uint8_t, 24>& stored_key() { return kStoredKey; }

}  // namespace zyl::device

// The C routines: turn pointers and int lengths into spans, refusing null
// pointers, negative lengths and key lengths no schedule takes.
namespace {

using zyl::device::DesCipher;

struct Buffers {
  std::span<const std::uint8_t> in;
  std::span<const std::uint8_t> key;
  std::span<std::uint8_t> out;
  bool ok = false;
};

// out_length is the number of bytes the routine writes.
Buffers buffers(const uint8_t* input, int length, const uint8_t* key, int key_length,
                uint8_t* output, std::size_t out_length) {
  Buffers b;
  if (length < 0 || key == nullptr || key_length <= 0) return b;
  if (length > 0 && (input == nullptr || output == nullptr)) return b;
  b.in = {input, static_cast<std::size_t>(length)};
  b.key = {key, static_cast<std::size_t>(key_length)};
  b.out = {output, out_length};
  b.ok = true;
  return b;
}

int ecb_encrypt_c(DesCipher cipher, const uint8_t* input, int length, const uint8_t* key,
                  int key_length, uint8_t* output) {
  // The padded length is the result, so it must fit an int as well.
  if (length > INT_MAX - 7) return ZYL_DES_INVALID_INPUT;
  const std::size_t padded = zyl::device::des_padded_length(length < 0 ? 0 : length);
  const Buffers b = buffers(input, length, key, key_length, output, padded);
  if (!b.ok) return ZYL_DES_INVALID_INPUT;
  return static_cast<int>(zyl::device::ecb_encrypt(cipher, b.in, b.key, b.out));
}

int ecb_decrypt_c(DesCipher cipher, const uint8_t* input, int length, const uint8_t* key,
                  int key_length, uint8_t* output) {
  const Buffers b = buffers(input, length, key, key_length, output, length < 0 ? 0 : length);
  if (!b.ok) return ZYL_DES_ECB_REFUSED;
  return zyl::device::ecb_decrypt(cipher, b.in, b.key, b.out);
}

int cbc_c(DesCipher cipher, bool encrypt, const uint8_t* input, int length, const uint8_t* key,
          int key_length, uint8_t* iv, uint8_t* output) {
  const Buffers b = buffers(input, length, key, key_length, output, length < 0 ? 0 : length);
  if (!b.ok) return ZYL_DES_INVALID_INPUT;
  return zyl::device::cbc_crypt(cipher, encrypt, b.in, b.key, iv, b.out);
}

}  // namespace

extern "C" {

int DesEcbEncrypt(const uint8_t* input, int length, const uint8_t* key, uint8_t* output) {
  return ecb_encrypt_c(DesCipher::Single, input, length, key, MBEDTLS_DES_KEY_SIZE, output);
}

int DesEcbDecrypt(const uint8_t* input, int length, const uint8_t* key, uint8_t* output) {
  return ecb_decrypt_c(DesCipher::Single, input, length, key, MBEDTLS_DES_KEY_SIZE, output);
}

int DesCbcEncrypt(const uint8_t* input, int length, const uint8_t* key, uint8_t* iv,
                  uint8_t* output) {
  return cbc_c(DesCipher::Single, true, input, length, key, MBEDTLS_DES_KEY_SIZE, iv, output);
}

// Answers the DES module's result like the other CBC routines: reporting 0
// for a length that is not a multiple of 8 would claim a deciphering that
// never happened.
int DesCbcDecrypt(const uint8_t* input, int length, const uint8_t* key, uint8_t* iv,
                  uint8_t* output) {
  return cbc_c(DesCipher::Single, false, input, length, key, MBEDTLS_DES_KEY_SIZE, iv, output);
}

int TripleDesEcbEncrypt(const uint8_t* input, int length, const uint8_t* key, int keyLength,
                        uint8_t* output) {
  return ecb_encrypt_c(DesCipher::Triple, input, length, key, keyLength, output);
}

int TripleDesEcbDecrypt(const uint8_t* input, int length, const uint8_t* key, int keyLength,
                        uint8_t* output) {
  return ecb_decrypt_c(DesCipher::Triple, input, length, key, keyLength, output);
}

int TripleDesCbcEncrypt(const uint8_t* input, int length, const uint8_t* key, int keyLength,
                        uint8_t* iv, uint8_t* output) {
  return cbc_c(DesCipher::Triple, true, input, length, key, keyLength, iv, output);
}

int TripleDesCbcDecrypt(const uint8_t* input, int length, const uint8_t* key, int keyLength,
                        uint8_t* iv, uint8_t* output) {
  return cbc_c(DesCipher::Triple, false, input, length, key, keyLength, iv, output);
}

}  // extern "C"
