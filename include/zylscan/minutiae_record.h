/* Conversion between the engine's features and the ISO/IEC 19794-2:2005 and
 * ANSI INCITS 378-2004 finger minutiae records, and from the type-line
 * engine's minutiae.
 *
 * Records are written with one finger view, 197 pixels per centimetre, finger
 * and minutia quality 100, and no extended data: 30 + 6m bytes (ISO) or
 * 32 + 6m bytes (ANSI), at most 100 minutiae. Angles are stored as degrees
 * d x 255 / 360 (ISO) and d x 179 / 360 (ANSI), with d the direction of the
 * minutia reversed. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/xw.h"
#include "zylscan/zyl_export.h"

#define ZYL_ISO_RECORD_MAX 630
#define ZYL_ANSI_RECORD_MAX 632
/* Status of a record that is not a minutiae record or is malformed. */
#define ZYL_ERR_NOT_MINUTIAE_RECORD (-901)

ZYL_EXTERN_C_BEGIN

/* Write an ISO or ANSI record of the record's minutiae (out holds at least
 * ZYL_ISO_RECORD_MAX / ZYL_ANSI_RECORD_MAX bytes); width and height are the
 * captured image's. Return the record length. The context is not read. */
ZYL_API int32_t CompressFeatures_ISO(const FeatureRecord* record, uint8_t* out, XWContext* context,
                                     uint8_t fingerPosition, int32_t width, int32_t height);
ZYL_API int32_t CompressFeatures_ANSI(const FeatureRecord* record, uint8_t* out, XWContext* context,
                                      uint8_t fingerPosition, int32_t width, int32_t height);

/* Convert an ISO or ANSI record into a native template (out holds at least
 * 7 + 90 x 4 bytes) and store its length. Reads no further than the record's
 * own length field says and never more than the header and 90 minutiae.
 * Return 0, or ZYL_ERR_NOT_MINUTIAE_RECORD when the record does not start
 * with "FMR" or its minutiae run past its length; -4 for a null argument. */
ZYL_API int32_t ZylISOToNuvel(const uint8_t* record, uint8_t* out, int32_t* outLength);
ZYL_API int32_t ZylANSIToNuvel(const uint8_t* record, uint8_t* out, int32_t* outLength);

/* Convert count type-line minutiae (8-byte entries at byte offset `offset`
 * of a TypelineRecord at base) into an ISO record or a native template in a
 * 1024-byte out buffer, and store the length. Only entries inside the
 * TypelineRecord are read. Return 1, or -4 for a null argument. */
ZYL_API int32_t TerrakTemplateISO(const void* base, int32_t count, int32_t offset, uint8_t* out,
                                  int32_t* outLength, int32_t width, int32_t height,
                                  int32_t xResolution, int32_t yResolution);
ZYL_API int32_t TerrakTemplateNuvel(const void* base, int32_t count, int32_t offset, uint8_t* out,
                                    int32_t* outLength);

/* x + 0.5 truncated toward zero (saturated to the int range, 0 for NaN). */
ZYL_API int32_t myround(float x);

ZYL_EXTERN_C_END
