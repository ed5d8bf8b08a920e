#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "device/des_buffer.h"
#include "zyl_config.h"
#include "zylscan/des_buffer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back(uint8_t(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
  return out;
}

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

Bytes random_bytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

// ECB through the C routines: DES for an 8-byte key, 3DES otherwise.
Bytes ecb_encrypt(const Bytes& key, const Bytes& plain) {
  Bytes out(zyl::device::des_padded_length(plain.size()) + 8, 0xCC);
  const int n = key.size() == 8 ? DesEcbEncrypt(plain.data(), int(plain.size()), key.data(), out.data())
                                : TripleDesEcbEncrypt(plain.data(), int(plain.size()), key.data(),
                                                      int(key.size()), out.data());
  EXPECT_EQ(n, int(zyl::device::des_padded_length(plain.size())));
  out.resize(n < 0 ? 0 : n);
  return out;
}

Bytes ecb_decrypt(const Bytes& key, const Bytes& cipher) {
  Bytes out(cipher.size());
  const int rc = key.size() == 8 ? DesEcbDecrypt(cipher.data(), int(cipher.size()), key.data(), out.data())
                                 : TripleDesEcbDecrypt(cipher.data(), int(cipher.size()), key.data(),
                                                       int(key.size()), out.data());
  EXPECT_EQ(rc, 0);
  return out;
}

// Published DES and 3DES vectors (FIPS 46 worked example, NIST variable
// plaintext and key tests, FIPS 81 "Now is the time for all ", SP 800-67
// three-key example); the two-key row was checked against an independent
// implementation.
TEST(DesBuffer, EcbKnownAnswers) {
  struct Case {
    const char* key;
    Bytes plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"133457799BBCDFF1", hex("0123456789ABCDEF"), "85E813540F0AB405"},
      {"0E329232EA6D0D73", hex("8787878787878787"), "0000000000000000"},
      {"0101010101010101", hex("8000000000000000"), "95F8A5E5DD31D900"},
      {"0123456789ABCDEF", text_bytes("Now is the time for all "),
       "3FA40E8A984D48156A271787AB8883F9893D51EC4B563B53"},
      {"0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123", text_bytes("The qufck brown fox jump"),
       "A826FD8CE53B855FCCE21C8112256FE668D5C05DD9B6B900"},
      {"0123456789ABCDEFFEDCBA9876543210", text_bytes("Now is the time for all "),
       "D80A0D8B2BAE5E4E6A0094171ABCFC2775D2235A706E232C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const Bytes key = hex(c.key);
    EXPECT_EQ(ecb_encrypt(key, c.plain), hex(c.cipher));
    EXPECT_EQ(ecb_decrypt(key, hex(c.cipher)), c.plain);
  }
}

TEST(DesBuffer, CbcKnownAnswersAndChainedVector) {
  struct Case {
    const char* key;
    const char* cipher;
  };
  // FIPS 81 CBC example (and the same under a three-key 3DES key).
  const Case cases[] = {
      {"0123456789ABCDEF", "E5C7CDDE872BF27C43E934008C389C0F683788499A7C05F6"},
      {"0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123",
       "F3C0FF026C023089656FBB169DEF7EDB30BA36075D6F0176"},
  };
  const Bytes plain = text_bytes("Now is the time for all ");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const Bytes key = hex(c.key);
    const Bytes expected = hex(c.cipher);
    const bool single = key.size() == 8;
    Bytes iv = hex("1234567890ABCDEF");
    Bytes out(plain.size());
    ASSERT_EQ(single ? DesCbcEncrypt(plain.data(), 24, key.data(), iv.data(), out.data())
                     : TripleDesCbcEncrypt(plain.data(), 24, key.data(), int(key.size()), iv.data(),
                                           out.data()),
              0);
    EXPECT_EQ(out, expected);
    // The vector is updated in place to the last cipher block, so a second
    // call continues the chain.
    EXPECT_EQ(iv, Bytes(expected.end() - 8, expected.end()));

    iv = hex("1234567890ABCDEF");
    Bytes back(out.size());
    ASSERT_EQ(single ? DesCbcDecrypt(out.data(), 24, key.data(), iv.data(), back.data())
                     : TripleDesCbcDecrypt(out.data(), 24, key.data(), int(key.size()), iv.data(),
                                           back.data()),
              0);
    EXPECT_EQ(back, plain);
  }
}

TEST(DesBuffer, CbcWithoutVectorUsesZeros) {
  const Bytes key = hex("0123456789ABCDEF");
  const Bytes plain = random_bytes(32, 3);
  Bytes zeros(8, 0), with_zero_iv(32), with_null_iv(32);
  ASSERT_EQ(DesCbcEncrypt(plain.data(), 32, key.data(), zeros.data(), with_zero_iv.data()), 0);
  ASSERT_EQ(DesCbcEncrypt(plain.data(), 32, key.data(), nullptr, with_null_iv.data()), 0);
  EXPECT_EQ(with_null_iv, with_zero_iv);
  // With a zero vector the first block is the plain ECB block.
  EXPECT_EQ(Bytes(with_null_iv.begin(), with_null_iv.begin() + 8),
            ecb_encrypt(key, Bytes(plain.begin(), plain.begin() + 8)));
}

TEST(DesBuffer, TripleDesWithEqualKeysIsDes) {
  const Bytes k = hex("133457799BBCDFF1");
  const Bytes plain = random_bytes(64, 5);
  const Bytes des = ecb_encrypt(k, plain);
  EXPECT_EQ(ecb_encrypt(concat(k, k), plain), des);
  EXPECT_EQ(ecb_encrypt(concat(concat(k, k), k), plain), des);
}

TEST(DesBuffer, TwoKeyIsThreeKeyWithFirstKeyRepeated) {
  const Bytes k1 = hex("0123456789ABCDEF"), k2 = hex("FEDCBA9876543210");
  const Bytes plain = random_bytes(40, 9);
  EXPECT_EQ(ecb_encrypt(concat(k1, k2), plain), ecb_encrypt(concat(concat(k1, k2), k1), plain));
}

TEST(DesBuffer, PartialBlockIsZeroPadded) {
  const Bytes key = hex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
  const Bytes plain = random_bytes(20, 11);
  Bytes out(32, 0xCC);
  ASSERT_EQ(TripleDesEcbEncrypt(plain.data(), 20, key.data(), 24, out.data()), 24);
  Bytes padded = plain;
  padded.resize(24, 0);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 24), ecb_encrypt(key, padded));
  EXPECT_EQ(Bytes(out.begin() + 24, out.end()), Bytes(8, 0xCC)) << "wrote past the padded length";
  EXPECT_EQ(ecb_decrypt(key, Bytes(out.begin(), out.begin() + 24)), padded);

  // Single DES pads the same way; an empty input writes nothing.
  const Bytes des_key = hex("133457799BBCDFF1");
  EXPECT_EQ(DesEcbEncrypt(plain.data(), 20, des_key.data(), out.data()), 24);
  EXPECT_EQ(DesEcbEncrypt(plain.data(), 0, des_key.data(), out.data()), 0);
  EXPECT_EQ(TripleDesEcbEncrypt(nullptr, 0, key.data(), 24, nullptr), 0);
}

TEST(DesBuffer, DecipheringPartialBlocksIsRefusedUntouched) {
  const Bytes key24 = hex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
  const Bytes input = random_bytes(20, 13);
  Bytes out(24, 0xCC);
  EXPECT_EQ(TripleDesEcbDecrypt(input.data(), 20, key24.data(), 24, out.data()), 1);
  EXPECT_EQ(DesEcbDecrypt(input.data(), 20, key24.data(), out.data()), 1);
  EXPECT_EQ(out, Bytes(24, 0xCC));
}

TEST(DesBuffer, RefusesBadArgumentsWithoutWriting) {
  const Bytes key = hex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
  const Bytes in = random_bytes(16, 17);
  Bytes out(16, 0xCC);
  Bytes iv(8, 0x77);
  struct Case {
    const char* what;
    const uint8_t* input;
    int length;
    const uint8_t* key;
    int key_length;
    uint8_t* output;
  };
  const Case cases[] = {
      {"null input", nullptr, 16, key.data(), 24, out.data()},
      {"null key", in.data(), 16, nullptr, 24, out.data()},
      {"null output", in.data(), 16, key.data(), 24, nullptr},
      {"negative length", in.data(), -8, key.data(), 24, out.data()},
      {"8-byte 3DES key", in.data(), 16, key.data(), 8, out.data()},
      {"20-byte 3DES key", in.data(), 16, key.data(), 20, out.data()},
      {"zero key length", in.data(), 16, key.data(), 0, out.data()},
      {"negative key length", in.data(), 16, key.data(), -24, out.data()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(TripleDesEcbEncrypt(c.input, c.length, c.key, c.key_length, c.output),
              ZYL_DES_INVALID_INPUT);
    EXPECT_EQ(TripleDesEcbDecrypt(c.input, c.length, c.key, c.key_length, c.output),
              ZYL_DES_ECB_REFUSED);
    EXPECT_EQ(TripleDesCbcEncrypt(c.input, c.length, c.key, c.key_length, iv.data(), c.output),
              ZYL_DES_INVALID_INPUT);
    EXPECT_EQ(TripleDesCbcDecrypt(c.input, c.length, c.key, c.key_length, iv.data(), c.output),
              ZYL_DES_INVALID_INPUT);
    EXPECT_EQ(out, Bytes(16, 0xCC));
    EXPECT_EQ(iv, Bytes(8, 0x77));
  }

  // CBC takes whole blocks only, in both directions, for DES as for 3DES.
  EXPECT_EQ(DesCbcEncrypt(in.data(), 12, key.data(), iv.data(), out.data()), ZYL_DES_INVALID_INPUT);
  EXPECT_EQ(DesCbcDecrypt(in.data(), 12, key.data(), iv.data(), out.data()), ZYL_DES_INVALID_INPUT);
  EXPECT_EQ(TripleDesCbcDecrypt(in.data(), 12, key.data(), 24, iv.data(), out.data()),
            ZYL_DES_INVALID_INPUT);
  EXPECT_EQ(out, Bytes(16, 0xCC));
  EXPECT_EQ(iv, Bytes(8, 0x77));
}

TEST(DesBuffer, RefusesLengthWhosePaddingOverflowsTheResult) {
  // Would read and write gigabytes past these buffers if accepted.
  const Bytes key = hex("133457799BBCDFF1");
  Bytes in(8), out(8);
  EXPECT_EQ(DesEcbEncrypt(in.data(), INT_MAX, key.data(), out.data()), ZYL_DES_INVALID_INPUT);
  EXPECT_EQ(DesEcbEncrypt(in.data(), INT_MAX - 6, key.data(), out.data()), ZYL_DES_INVALID_INPUT);
}

TEST(DesBuffer, SpanFaceRefusesShortOutput) {
  using namespace zyl::device;
  const Bytes key = hex("0123456789ABCDEFFEDCBA9876543210");
  const Bytes in = random_bytes(20, 19);
  Bytes out(23, 0xCC);
  EXPECT_EQ(triple_des_ecb_encrypt(in, key, out), ZYL_DES_INVALID_INPUT);
  EXPECT_EQ(triple_des_ecb_decrypt(Bytes(24), key, out), ZYL_DES_ECB_REFUSED);
  EXPECT_EQ(cbc_crypt(DesCipher::Triple, true, Bytes(24), key, nullptr, out), ZYL_DES_INVALID_INPUT);
  EXPECT_EQ(out, Bytes(23, 0xCC));
  out.resize(24);
  EXPECT_EQ(triple_des_ecb_encrypt(in, key, out), 24);
}

TEST(DesBuffer, FingerDatabaseSizeRoundTripsUnderStoredKey) {
  const auto& key = zyl::device::stored_key();
  EXPECT_EQ(key[0], hex(std::string(ZYL_STORED_KEY_HEX).substr(0, 2))[0]);
  EXPECT_EQ(key[23], hex(std::string(ZYL_STORED_KEY_HEX).substr(46, 2))[0]);

  const Bytes plain = random_bytes(3072640, 23);
  Bytes cipher(plain.size()), back(plain.size());
  ASSERT_EQ(TripleDesEcbEncrypt(plain.data(), int(plain.size()), key.data(), 24, cipher.data()),
            3072640);
  EXPECT_NE(cipher, plain);
  ASSERT_EQ(TripleDesEcbDecrypt(cipher.data(), int(cipher.size()), key.data(), 24, back.data()), 0);
  EXPECT_EQ(back, plain);
}

}  // namespace
