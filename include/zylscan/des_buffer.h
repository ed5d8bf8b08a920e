/* DES and triple-DES (3DES) over whole buffers.
 *
 * These routines serve the library itself (the on-host finger database and
 * the session-key exchange are enciphered with 3DES ECB under the stored
 * 24-byte key); they are not exported from the shared library.
 *
 * All take the input, its length in bytes, the key and the output; the
 * output must not overlap the input. DES keys are 8 bytes; 3DES keys are
 * 16 bytes (two-key) or 24 bytes (three-key), given by keyLength.
 *
 *  - ECB encipher: any length; a last partial block is padded with zero
 *    bytes, so the output must hold the length rounded up to a multiple of 8.
 *    Returns that padded length.
 *  - ECB decipher: the length must be a multiple of 8; returns 0, or
 *    ZYL_DES_ECB_REFUSED (1) with the output untouched.
 *  - CBC: the length must be a multiple of 8; iv is an 8-byte initial vector,
 *    updated in place, or null for an all-zero one. Returns 0 or a negative
 *    code.
 * A null pointer (other than iv), a negative length or a key of the wrong
 * length is refused the same way: ZYL_DES_ECB_REFUSED for ECB deciphering,
 * ZYL_DES_INVALID_INPUT for every other routine, with nothing written. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

#define ZYL_DES_BLOCK_SIZE 8
/* ECB deciphering refused (length not a multiple of 8, or bad arguments). */
#define ZYL_DES_ECB_REFUSED 1
/* Every other refusal; the DES module's "invalid input length" code. */
#define ZYL_DES_INVALID_INPUT (-0x0032)

ZYL_EXTERN_C_BEGIN

int DesEcbEncrypt(const uint8_t* input, int length, const uint8_t* key, uint8_t* output);
int DesEcbDecrypt(const uint8_t* input, int length, const uint8_t* key, uint8_t* output);
int DesCbcEncrypt(const uint8_t* input, int length, const uint8_t* key, uint8_t* iv,
                  uint8_t* output);
int DesCbcDecrypt(const uint8_t* input, int length, const uint8_t* key, uint8_t* iv,
                  uint8_t* output);

int TripleDesEcbEncrypt(const uint8_t* input, int length, const uint8_t* key, int keyLength,
                        uint8_t* output);
int TripleDesEcbDecrypt(const uint8_t* input, int length, const uint8_t* key, int keyLength,
                        uint8_t* output);
int TripleDesCbcEncrypt(const uint8_t* input, int length, const uint8_t* key, int keyLength,
                        uint8_t* iv, uint8_t* output);
int TripleDesCbcDecrypt(const uint8_t* input, int length, const uint8_t* key, int keyLength,
                        uint8_t* iv, uint8_t* output);

ZYL_EXTERN_C_END
