/* Working calls of the skeleton engine's context API: a grey image of any
 * resolution into a native template (or an ISO / ANSI minutiae record), two
 * templates compared in both directions, three templates of one finger merged
 * into one.
 *
 * Every call takes an XWContext as its last argument; null means the
 * library's default context. Templates are read from and written into the
 * SDK's 1024-byte feature buffers (ZYL_TEMPLATE_BUFFER_SIZE). */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/xw.h"
#include "zylscan/zyl_export.h"

/* Status codes of the working calls (besides those of xw.h). */
#define XW_VERIFY_COMPLETED 153      /* a score was computed (not a decision) */
#define XW_ERR_RESOLUTION (-101)     /* resolution outside 50..5000 dpi */
#define XW_ERR_IMAGE_SIZE (-102)     /* size at 500 dpi outside 16..2048 */
#define XW_ERR_POOR_IMAGE (-103)     /* quality value at or above the threshold */
/* A template that is malformed or truncated (same value as the codec's). */
#define XW_ERR_BAD_TEMPLATE (-901)

#define XW_MIN_RESOLUTION 50
#define XW_MAX_RESOLUTION 5000
#define XW_WORK_RESOLUTION 500
#define XW_MIN_WORK_SIZE 16
#define XW_MAX_WORK_SIZE 2048

ZYL_EXTERN_C_BEGIN

/* Size of an image of the given resolution once brought to 500 dpi
 * (truncating). Returns 0, -4 for a null out argument, -101 for a resolution
 * outside 50..5000, -102 when either side falls outside 16..2048; the sizes
 * are written in every case but -4 and -101. */
ZYL_API int32_t ComputeStretchedImageSize(int32_t width, int32_t height, int32_t resolution,
                                          int32_t* stretched_width, int32_t* stretched_height);

/* Extracts the minutiae of a width x height grey image (row after row, no
 * padding) and writes its native template into out (1024 bytes) and the
 * length into *out_length. The image is overwritten with the extractor's
 * skeleton, resampled back to the input size. Returns 0, or -103 for an image
 * too poor (its template is written all the same); with the raw-result
 * parameter (11000) set, the extractor's quality value 0..255 instead.
 * Failures: -3 no context, -4 null argument, -101, -102, -2 out of memory. */
ZYL_API int32_t XWExtract(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution,
                          uint8_t* out, int32_t* out_length, XWContext* context);
/* The same, writing an ISO/IEC 19794-2 record (out holds ZYL_ISO_RECORD_MAX
 * bytes) with the given finger position and the input's own size. */
ZYL_API int32_t XWExtract_ISO(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution,
                              uint8_t* out, int32_t* out_length, uint8_t finger_position,
                              XWContext* context);
/* The same, writing an ANSI INCITS 378 record (ZYL_ANSI_RECORD_MAX bytes). */
ZYL_API int32_t XWExtract_ANSI(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution,
                               uint8_t* out, int32_t* out_length, uint8_t finger_position,
                               XWContext* context);
/* XWExtract at 500 dpi. */
ZYL_API int32_t XWFExtract(int32_t width, int32_t height, uint8_t* pixels, uint8_t* out,
                           int32_t* out_length, XWContext* context);

/* Compares template B with template A (and, for a first score inside the
 * verification window, A with B; the mean then counts). Returns 153 with the
 * score 0..1000 in details (size field 20 or 4120; may be null), or -3, -4,
 * -5 (details size), -2 (no match data), -901 (malformed template), -1000
 * (identification in progress). */
ZYL_API int32_t XWVerify(const uint8_t* template_a, const uint8_t* template_b, MatchDetails* details,
                         XWContext* context);
/* The score of XWVerify, 0 when it stopped before producing one. */
ZYL_API int32_t XWFVerify(const uint8_t* template_a, const uint8_t* template_b, XWContext* context);

/* Starts an identification: decodes and prepares the probe once, so that
 * each XWIdentifyNext compares one candidate with it. While it runs, setting
 * parameters, verifying and generalising are refused (-1000). Returns 0, -3,
 * -4, -2, -901, or -1000 when an identification is already running. */
ZYL_API int32_t XWIdentifyStart(const uint8_t* probe, XWContext* context);
/* Compares a candidate with the probe: 0 when the score is above the match
 * threshold (parameter 200), -1 when it is not; the score goes into details.
 * -1000 when no identification runs; -3, -4, -5, -901 as for XWVerify. */
ZYL_API int32_t XWIdentifyNext(const uint8_t* candidate, MatchDetails* details, XWContext* context);
/* Ends the identification: 0, -3, or -1000 when none was running. */
ZYL_API int32_t XWIdentifyEnd(XWContext* context);

/* Merges three templates of one finger (count must be 3) into one template
 * written into out (1024 bytes), its length into *out_length. Returns the
 * index 0..2 of the template whose frame the result uses, -1 when the three
 * do not all match each other at the generalisation threshold (parameter
 * 300), or -3, -4, -5, -2, -901, -1000. */
ZYL_API int32_t XWGeneralize(int32_t count, const uint8_t* const* templates, uint8_t* out,
                             int32_t* out_length, XWContext* context);
/* XWGeneralize with count 3. */
ZYL_API int32_t XWFGeneralize(const uint8_t* const* templates, uint8_t* out, int32_t* out_length,
                              XWContext* context);

ZYL_EXTERN_C_END
