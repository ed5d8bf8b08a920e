/* Matcher library minutiae extraction operations: the stage extraction
 * routines that turn a grey image object into a standard minutiae record,
 * a card template or an extended card template, the drivers behind them,
 * the resolution fit that decides how an image is resampled first, the
 * ridge-trace statistics they can attach, and the 508-dpi card stage.
 *
 * Requested types of the grey operations: 1-3 standard record, card, ANSI
 * record of the newer versions (ISO 2011, ANSI 2009); 4-6 the same of the
 * older versions; 67 extended card with block maps; 72 the same with the
 * image; 73 card wrapped with its block maps (blob type 67); 74, 75 as 67
 * and 72 with fine maps. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Driver output formats. */
enum {
  MINX_FORMAT_RECORD = 1,  /* ISO record with the extended blocks asked for */
  MINX_FORMAT_CARD = 2,    /* card template, extended under 0x0010 | 0x0020 */
  MINX_FORMAT_ANSI = 3,    /* ANSI record */
  MINX_FORMAT_WRAPPED = 4, /* card wrapped with its block maps (E1) */
  MINX_FORMAT_MINREC = 8   /* the MinutiaeRecord itself (free with minrec_free) */
};

/* Order code of the minutiae-order key (bits 2-4 the criterion, bits 0-1
 * equal to 2 descending); 21 (quality, descending) for 0 and unknown
 * criteria. */
ZYL_API int minutiae_order_from_key(int32_t key);

/* Size and resolution to resample an image to: target resolution T / d
 * with the smaller side a multiple of 12 / d; the input unchanged when it
 * is within 8 / d of the target. 0, or 1 for a resolution of 0. */
ZYL_API int extract_fit_resolution(int target, int divisor, int resolution_y, int resolution_x,
                                   int height, int width, int* out_resolution_y,
                                   int* out_resolution_x, int* out_height, int* out_width);

/* Drivers. The output buffer is allocated here (free it with
 * minutiae_buffer_free, or minrec_free for MINX_FORMAT_MINREC); null and
 * size 0 on failure. 2 bad impression type, order code or finger position;
 * 17 fewer minutiae than the minimum; pipeline and builder statuses pass
 * through. */
ZYL_API int minutiae_driver_grey(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                                 uint16_t width, uint8_t finger_position, uint8_t impression_type,
                                 const void* reserved, uint8_t min_count, uint8_t max_count,
                                 uint8_t order_code, uint16_t options, uint8_t format, uint8_t** out,
                                 uint32_t* out_size, RidgeTraceCallback ridge_trace,
                                 RidgeTraceCallback second);
/* The grey driver over the bit-packed pipeline: finger positions over 10
 * are refused (2); formats 1 and 3 give no output (0, no buffer). */
ZYL_API int minutiae_driver_bilevel(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                                    uint16_t width, uint8_t finger_position, uint8_t impression_type,
                                    const void* reserved, uint8_t min_count, uint8_t max_count,
                                    uint8_t order_code, uint16_t options, uint8_t format, uint8_t** out,
                                    uint32_t* out_size, RidgeTraceCallback callback, void* user);
ZYL_API int minutiae_driver_maps(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                                 uint16_t width, uint8_t finger_position, uint8_t impression_type,
                                 uint16_t options, uint8_t format, uint8_t** out, uint32_t* out_size);
typedef struct MinutiaeDriverSettings {
  uint8_t min_count;
  uint8_t max_count;
  uint8_t order_code;
  uint16_t options;
  uint8_t format;
  uint8_t** out;
  uint32_t* out_size;
} MinutiaeDriverSettings;
ZYL_API int minutiae_driver_settings(const uint8_t* pixels, uint16_t height, uint16_t width,
                                     uint8_t finger_position, uint8_t impression_type,
                                     const MinutiaeDriverSettings* settings);
/* A card with its quality element: at most 64 minutiae by quality, at full
 * resolution. */
ZYL_API int minutiae_driver_card_fixed(const uint8_t* pixels, uint16_t height, uint16_t width,
                                       uint8_t finger_position, uint8_t impression_type, uint8_t** out,
                                       uint32_t* out_size);
ZYL_API void minutiae_buffer_free(uint8_t* buffer);

/* The grey operation with its sampling mode (0, MINX_FULL or MINX_HALF). */
ZYL_API int extract_minutiae_grey(MatchContext* context, GrayImage* image, void* argument,
                                  int32_t requested, DataBlob** out, int mode);

/* Stage extraction routines (the engine's signature; the argument is not
 * read: the finger position comes from the image's finger information).
 * Slot order of the minutiae extraction operation table. */
/* Type 67 only (else 18), on the bit planes at half resolution; 18 also
 * under the 360 setting of small sensors. */
ZYL_API int extract_minutiae_bilevel(MatchContext* context, GrayImage* image, void* argument,
                                     int32_t requested, DataBlob** out);
ZYL_API int extract_minutiae_grey_half(MatchContext* context, GrayImage* image, void* argument,
                                       int32_t requested, DataBlob** out);
ZYL_API int extract_minutiae_grey_full(MatchContext* context, GrayImage* image, void* argument,
                                       int32_t requested, DataBlob** out);
ZYL_API int extract_minutiae_grey_plain(MatchContext* context, GrayImage* image, void* argument,
                                        int32_t requested, DataBlob** out);
ZYL_API int extract_block_maps(MatchContext* context, GrayImage* image, void* argument,
                               int32_t requested, DataBlob** out);

/* The minutiae extraction operation table: bilevel, grey half, grey full,
 * grey plain (read as full resolution), block maps. */
extern const StageExtractor minutiae_extract_operations[5];
/* The card-template stage routines A to E of the engine's chains: the
 * table's slots in order. */
ZYL_API int card_extract_a(MatchContext* context, GrayImage* image, void* argument, int32_t kind,
                           DataBlob** out);
ZYL_API int card_extract_b(MatchContext* context, GrayImage* image, void* argument, int32_t kind,
                           DataBlob** out);
ZYL_API int card_extract_c(MatchContext* context, GrayImage* image, void* argument, int32_t kind,
                           DataBlob** out);
ZYL_API int card_extract_d(MatchContext* context, GrayImage* image, void* argument, int32_t kind,
                           DataBlob** out);
ZYL_API int card_extract_e(MatchContext* context, GrayImage* image, void* argument, int32_t kind,
                           DataBlob** out);

/* Card template (requested type 2; other types: 0 without a blob) of the
 * first 64 minutiae found at 508 dpi; images off by 9 dpi or more are
 * resampled first. 1 for a resolution of 0 or one outside 500..516 (also
 * unequal axes). */
ZYL_API int extract_minutiae_508(MatchContext* context, GrayImage* image, void* argument,
                                 int32_t requested, DataBlob** out);

/* Ridge-trace statistics: the record's 4-byte trace value from the bulges
 * of the ridges of a thinned image (0 = skeleton pixel; visited pixels
 * become 255). 00 80 00 FF when there is nothing to measure. 0; 2 for a
 * null work record or record or a negative margin; 9 out of memory. */
ZYL_API int ridgetrace_run(MinutiaeWorkInfo* work, uint8_t* thinned, const uint8_t* block_map,
                           int block, int margin, const uint8_t* quality, MinutiaeRecord* record,
                           int extra);

/* Segment statistics, with the signature of the grey pipeline's second
 * callback (margin 4, extra 28): every ridge of a thinned image followed
 * from a free end (pixels within margin / s + 5 of the frame or next to
 * background blocks are left out; visited pixels become 255) is a segment
 * of one of three kinds: 1 a ridge between two free ends, 2 an arm from a
 * branch to a free end, 3 two arms of one branch joined through it. The
 * segments of kind k go into trace slot extra + k - 1 (replacing its data),
 * 7 bytes each: direction of the end-to-end vector (256 steps, rows counted
 * upward), path length (u16 big-endian, 10 per straight and 14 per diagonal
 * step) and the row and column (u16 big-endian) of the point at half that
 * length. 0 also without an image (nothing traced); 2 for a null work
 * record or record, a negative margin or an extra outside 0..54; 9 out of
 * memory, the record unchanged. */
ZYL_API int ridgetrace_segments_run(MinutiaeWorkInfo* work, uint8_t* thinned,
                                    const uint8_t* block_map, int block, int margin,
                                    const uint8_t* quality, MinutiaeRecord* record, int extra);

/* Seconds of a monotonic clock as a 32-bit float; 0 when the clock cannot
 * be read. */
ZYL_API float clock_seconds(void);

ZYL_EXTERN_C_END
