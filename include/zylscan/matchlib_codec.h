/* Matcher library byte-order codec: big-endian readers, size-or-write
 * writers (a null output only counts), and walkers over chains of typed
 * blocks. The readers trust the caller to have checked that the bytes are
 * there; the block walkers check every header against the buffer first. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

ZYL_API uint8_t bytes_read_u8(const uint8_t* p);
ZYL_API int bytes_write_u8(uint8_t* out, int value);
ZYL_API uint16_t bytes_read_be16(const uint8_t* p);
ZYL_API uint16_t bytes_read_be16_alt(const uint8_t* p);
ZYL_API int bytes_write_be16(uint8_t* out, int value);
ZYL_API int bytes_write_be16_alt(uint8_t* out, int value);
ZYL_API uint32_t bytes_read_be32(const uint8_t* p);
ZYL_API uint32_t bytes_read_be32_alt(const uint8_t* p);
ZYL_API int bytes_write_be32(uint8_t* out, uint32_t value);
ZYL_API int bytes_write_be32_alt(uint8_t* out, uint32_t value);
ZYL_API float bytes_read_be_f32(const uint8_t* p);
ZYL_API int bytes_write_be_f32(uint8_t* out, float value);
ZYL_API uint32_t bytes_write_raw(uint8_t* out, const void* src, uint32_t n);
/* 0 with a new malloc'd copy of n bytes in *out (the caller frees it);
 * 9 with *out = null when memory runs out; 2 for a null out pointer, or a
 * null source with n > 0. */
ZYL_API int bytes_dup(void** out, const void* src, uint32_t n);

/* Block chains: {BE u16 type, BE u32 total length >= 6, body} or
 * {BE u16 type, BE u16 body length, body}. */
ZYL_API int block_write_header6(uint8_t* out, int type, uint32_t total_length);
ZYL_API int block_write_header4(uint8_t* out, int type, int total_length);

/* Routine of one block type: (target, body, body length, user argument,
 * block header); 0 lets the walk go on. */
typedef int (*BlockRoutine)(void* target, const uint8_t* body, uint32_t body_length, void* user,
                            const uint8_t* header);
/* Dispatch table entry; the table ends at the first entry whose routine is null. */
typedef struct BlockHandler {
  uint16_t type;
  BlockRoutine routine;
} BlockHandler;

/* 2 for a null target, table or buffer; 0 for an empty buffer; 17 when the
 * chain does not fill the buffer exactly (checked before any routine runs);
 * otherwise the first non-zero answer of a routine, or 0. Types missing
 * from the table are skipped. */
ZYL_API int blocks_dispatch6(void* target, const BlockHandler* table, const uint8_t* buffer,
                             uint32_t length, void* user);
ZYL_API int blocks_dispatch4(void* target, const BlockHandler* table, const uint8_t* buffer,
                             uint32_t length, void* user);

ZYL_API void codec_noop(void);

ZYL_EXTERN_C_END
