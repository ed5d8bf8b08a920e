/* The native compact minutiae template ("Nuvel") and its block direction
 * grid code.
 *
 * Layout (multi-byte fields little-endian): flags (bit 0 curvature bytes,
 * bit 1 singular points, bit 2 block directions), border density, 24-bit
 * origin (bits 0-11 y + 2048, bits 12-23 x + 2048), 16-bit minutiae count,
 * the minutiae as 32-bit words (x offset bits 21-31, y offset bits 10-20,
 * type bits 8-9, angle bits 0-7) each followed by a curvature byte when
 * flag bit 0 is set, then the singular points (count byte and words) and the
 * block direction section when their flags are set.
 *
 * The entry points here take no buffer length: they read and write at most
 * ZYL_TEMPLATE_BUFFER_SIZE bytes, the size of the SDK's feature buffers. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/xw.h"
#include "zylscan/zyl_export.h"

#define ZYL_TEMPLATE_BUFFER_SIZE 1024
/* Minutiae and singular points a template written from a feature record
 * holds at most; templates declaring more than 90 minutiae or 5 singular
 * points are refused by the reader. */
#define ZYL_NUVEL_MAX_MINUTIAE_WRITTEN 60
#define ZYL_NUVEL_MAX_MINUTIAE 90
#define ZYL_NUVEL_MAX_SINGULAR 5
/* Status of a template or record that is malformed or truncated. */
#define ZYL_ERR_BAD_TEMPLATE (-901)

ZYL_EXTERN_C_BEGIN

/* Writes the template of a feature record under the context's writer
 * settings (null: the default context; without one the settings of a new
 * context). out must hold ZYL_TEMPLATE_BUFFER_SIZE bytes; a block section
 * that would not fit is left out. Returns the length in bytes. */
ZYL_API int32_t CompressFeatures(const FeatureRecord* record, uint8_t* out, XWContext* context);
/* Reads a template (at most ZYL_TEMPLATE_BUFFER_SIZE bytes) into a record.
 * Returns the bytes read before the block section, ZYL_ERR_BAD_TEMPLATE for
 * a malformed template (the record then holds no minutiae) or -4 for a null
 * argument. */
ZYL_API int32_t DecompressFeatures(const uint8_t* tmpl, FeatureRecord* record);

/* Codes the record's block grid (size clamped to 128 x 128); returns the
 * bytes written, 0 for an empty grid. out must hold 2 + 128 x 128 bytes. */
ZYL_API int32_t CompressBO(const FeatureRecord* record, uint8_t* out);
/* Codes count directions (0..119) following previous; out must hold count
 * bytes. Returns the bytes written. */
ZYL_API int32_t CompressBOLine(int32_t previous, int32_t count, const uint8_t* values, uint8_t* out);
/* Reads a block direction section (at most ZYL_TEMPLATE_BUFFER_SIZE bytes)
 * into the record's grid; returns the bytes read. */
ZYL_API int32_t DecompressBO(const uint8_t* data, FeatureRecord* record);

/* The minutiae count of a template (bytes 5-6), 0 for null. */
ZYL_API int32_t GetFeatureNum(const uint8_t* tmpl);

/* A library-wide value that nothing else reads. */
ZYL_API void SetFingerPoint(int32_t value);
ZYL_API int32_t GetFingerPoint(void);

ZYL_EXTERN_C_END
