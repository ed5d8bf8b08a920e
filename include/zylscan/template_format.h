/* Template format detection and the QXE container.
 *
 * A QXE container wraps a native template of n bytes in n + 26 bytes: the
 * magic "QXE", a 9-byte identifier and a small info record chosen by the
 * writer's caller, the template's minutiae and singular-point counts, n
 * (big-endian), the template, and a CRC-8 of everything before it. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

/* Results of ZYL_getFormatType. */
#define ZYL_FORMAT_QXE 0
#define ZYL_FORMAT_NUVEL 1
#define ZYL_FORMAT_ISO 2
#define ZYL_FORMAT_IDCARD 3
#define ZYL_FORMAT_ANSI 4
#define ZYL_FORMAT_UNKNOWN (-902)

/* Results of the QXE calls. */
#define ZYL_QXE_OK 1
#define ZYL_QXE_CRC_MISMATCH (-1)
#define ZYL_QXE_LENGTH_MISMATCH (-2)
#define ZYL_QXE_NULL_ARGUMENT (-4)

#define ZYL_QXE_OVERHEAD 26
#define ZYL_QXE_MAX_TEMPLATE (65535 - ZYL_QXE_OVERHEAD)

/* Opaque to the library: stored by the writer, returned by the reader. */
typedef struct QxeIdentifier {
  uint8_t bytes[9];
} QxeIdentifier;

/* The container keeps info byte 1 and 2, the low 8 bits of infoValue3 and
 * the low 16 bits of each info number. */
typedef struct QxeInfo {
  uint8_t infoByte1;
  uint8_t infoByte2;
  int32_t infoValue3;
  int32_t infoNumbers[3];
} QxeInfo;

ZYL_EXTERN_C_BEGIN

/* Tells the formats apart from their first bytes and, for the standard
 * records, their length fields; reads no more than length bytes. */
ZYL_API int32_t ZYL_getFormatType(const uint8_t* buffer, int32_t length);
/* Placeholder kept for callers; checks nothing and returns 0. */
ZYL_API int32_t CheckFeaFormat(void);

/* Wraps a native template of n bytes (0..ZYL_QXE_MAX_TEMPLATE) into out,
 * which must hold n + 26 bytes; stores n + 26 in *outLength. Returns 1, -2
 * for a length out of range, -4 for a null argument. */
ZYL_API int32_t ZYL_FromNuvelToQXE(const uint8_t* nuvel, int32_t n, QxeIdentifier identifier,
                                   uint8_t* out, int32_t* outLength, QxeInfo info);
/* Checks and unwraps a container of length bytes: the template (length - 26
 * bytes, so out must hold that much) goes to out and its length to
 * *nuvelLength, the info record and identifier to theirs. Returns 1, -2 when
 * the length does not match the stored template length, -1 when the CRC
 * does not match, -4 for a null argument; nothing is written on failure. */
ZYL_API int32_t ZYL_FromQXEToNuvel(const uint8_t* container, int32_t length, uint8_t* out,
                                   int32_t* nuvelLength, QxeInfo* info, QxeIdentifier* identifier);

ZYL_EXTERN_C_END
