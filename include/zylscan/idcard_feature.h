/* The 512-byte identity-card fingerprint feature.
 *
 * Layout (16-bit numbers big-endian): 'C', 4, finger code, 2, 1, secondary
 * code, 100, twelve 0xFF bytes, minutiae count m (0..120), m x 4 + 9, three
 * 3-byte core entries (x, y low 8 bits, y bit 8; all zero when empty), m
 * 4-byte minutiae (x, y low 8 bits, degrees low 8 bits, then a byte with y
 * bit 8 in bit 0, degree bit 8 in bit 1 and bits 2-7 set), zeros, and at
 * offset 511 the CRC-8 of bytes 0..510. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/zyl_export.h"

#define ZYL_IDCARD_FEATURE_SIZE 512
#define ZYL_IDCARD_MAX_MINUTIAE 120

ZYL_EXTERN_C_BEGIN

/* Converts a native template of length bytes (0 or less: a 1024-byte
 * buffer) into an identity-card feature in out (512 bytes). Minutiae with x
 * above 255 or y above 359 are left out. Returns 1, -1 when the template's
 * flag byte is above 31 or the template is malformed, -4 for a null
 * argument. */
ZYL_API int32_t ZYL_Zylfea2IDCardfea(const uint8_t* nuvel, int32_t length, uint8_t* out,
                                     uint8_t fingerCode, uint8_t secondaryCode);
/* Reads a card feature into a native template (out holds at least 264
 * bytes). Returns the template length, -901 when the tag is not 'C', byte 4
 * is not 1 or there are no minutiae, -4 for a null argument. */
ZYL_API int32_t IDcardfea2Nuvelfea(const uint8_t* card, uint8_t* out);
/* Reads a card feature into a feature record and its secondary code.
 * Returns 0; -1 when the tag is not 'C' or there are no minutiae; -2 when
 * byte 4 is not 1; -4 for a null argument. */
ZYL_API int32_t DecompressFeaturesIdcardtoNuvel(const uint8_t* card, FeatureRecord* record,
                                                uint8_t* secondaryCode);

ZYL_EXTERN_C_END
