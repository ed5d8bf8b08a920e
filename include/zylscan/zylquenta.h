/* Matcher-library wrappers of algorithm modes 3 and 4.
 *
 * The matcher library's engine, templates and scores behind plain byte
 * buffers: an engine is made for one extraction or verification and freed
 * after it; a template leaves the library wrapped as
 *
 *   byte 0      format code of the library's template (low 8 bits)
 *   bytes 1-2   payload length L, big-endian
 *   bytes 3..   the L payload bytes
 *
 * and a verification score is the engine's 16-bit FAR-scale score divided
 * by 675. Mode 4 (AlgMode) uses the light verification engine on image
 * objects, every other mode the light engine on raw pixels; extraction
 * always declares 500 dpi.
 *
 * Template size: a wrapped template must fit one template slot of the
 * device API (ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 20480 bytes): extraction
 * refuses a larger one and verification refuses a header whose L + 3 goes
 * past the slot, so a caller's slot is never written or read beyond its
 * end. Measured on fingerprint crops: 2194 bytes in mode 3; in mode 4
 * about 16 KB for the 96 x 96 images of the scanner that selects it, and
 * 21-22 KB, more than a slot, for 160 x 160 images.
 *
 * Scores run 0..93 in practice: the engine's FAR scale tops out at 63277
 * (the 97 of a full 16-bit score is never reached). */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/zyl_export.h"

/* The engine score that one point of the wrapped score stands for. */
#define ZYLQUENTA_SCORE_DIVISOR 675
/* Size of the wrapped template's header. */
#define ZYLQUENTA_HEADER_SIZE 3

ZYL_EXTERN_C_BEGIN

/* Makes an engine on a context of its own with the preset of the current
 * AlgMode into *out (null when the preset gives none: the calls that follow
 * then answer the library's null-engine status). 0; 1 when no context can
 * be made; 2 for a null out. */
ZYL_API int ZylQuenta_Init(MatchEngine** out);
/* Extracts a template from width x height 8-bit pixels and writes it
 * wrapped into out, its length (L + 3) into *out_length. out must hold
 * ZYLFPSCAN_TEMPLATE_SLOT_SIZE bytes. 0; the library's status otherwise
 * (2 for a null engine or argument, 9 when memory runs out, 1 when the
 * wrapped template would not fit a slot), nothing written. `reserved` is
 * not read. */
ZYL_API int ZylQuenta_Extract(MatchEngine* engine, const uint8_t* pixels, int width, int height,
                              uint8_t* out, int* out_length, int reserved);
/* Compares wrapped template B (probe) with A (gallery): the score 0..97,
 * or the negated library status (-2 for a null engine or template, -17
 * for a header whose L + 3 goes past ZYLFPSCAN_TEMPLATE_SLOT_SIZE, -9 when
 * memory runs out). The reserved ints are not read. */
ZYL_API int ZylQuenta_Verify(MatchEngine* engine, const uint8_t* template_a, int reserved_a,
                             const uint8_t* template_b, int reserved_b);
/* Releases the engine (null is ignored); 0. */
ZYL_API int ZylQuenta_Free(MatchEngine* engine);
/* Writes the blob wrapped into out: L + 3. 0 and nothing written for a
 * null blob or out, or a blob of more than 65535 bytes, whose length the
 * header cannot carry. `reserved` is not read. */
ZYL_API int template_ttobuffer(const DataBlob* blob, const void* reserved, uint8_t* out);
/* Writes length bytes to the file at path (created or truncated): 0, or -1
 * when the file cannot be opened or written, for a null path, a negative
 * length or null data with a positive length. */
ZYL_API int ZylTepbuf2File(const uint8_t* data, int length, const char* path);

ZYL_EXTERN_C_END
