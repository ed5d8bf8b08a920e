/* Table-driven CRC-8: polynomial 0xD5, initial value 0, most significant bit
 * first, no final XOR (the CRC-8/DVB-S2 parameters): "123456789" gives 0xBC.
 *
 * The state is one byte owned by the caller:
 *   uint8_t crc;
 *   CRC8_InitChecksum(&crc);
 *   CRC8_UpdateChecksum(&crc, data, length);   (any number of times)
 *   CRC8_FinishChecksum(&crc);
 * which equals CRC8_BlockChecksum over the concatenated data. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Makes sure the process-wide table is ready. The table is built when the
 * library is compiled, so calling this is harmless and no longer required. */
ZYL_API void make_crc_table(void);

/* state = 0. A null state is ignored. */
ZYL_API void CRC8_InitChecksum(uint8_t* state);
/* Feeds one byte: state = table[value ^ state]. A null state is ignored. */
ZYL_API void CRC8_Update(uint8_t* state, uint8_t value);
/* Feeds length bytes in order. A null state or data, or a length of 0 or
 * below, leaves the state unchanged. */
ZYL_API void CRC8_UpdateChecksum(uint8_t* state, const void* data, int length);
/* Leaves the state as it is (no final XOR); the state is the checksum. */
ZYL_API void CRC8_FinishChecksum(uint8_t* state);
/* The CRC-8 of a block; 0 for an empty block (or null data). */
ZYL_API uint8_t CRC8_BlockChecksum(const void* data, int length);

ZYL_EXTERN_C_END
