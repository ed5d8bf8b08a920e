/* Engine selection: the library-wide algorithm mode and the algorithm
 * context that every opened device carries. */
#pragma once

#include <stdint.h>

#include "zylscan/xw.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Engine selector shared by all devices; 4 until setAlgMode is called.
 * Opening a device sets it to that product's mode byte. */
ZYL_API extern int32_t AlgMode;

/* Sets AlgMode; returns 0. */
ZYL_API int32_t setAlgMode(int32_t mode);
/* Creates a device's algorithm context into *out (null when memory runs
 * out) and returns 1; returns -4 without touching anything for a null out. */
ZYL_API int32_t DevAlgCreateCtx(XWContext** out);
/* Frees a device's algorithm context: 0, or -4 for null. */
ZYL_API int32_t DevAlgFreeCtx(XWContext* context);
/* Version of the dispatch layer: 1. */
ZYL_API int32_t DevAlg_GetVersion(void);

ZYL_EXTERN_C_END

/* Engine dispatch. Each call takes the device's algorithm context last.
 *
 * AlgMode chooses the engine: images of at most 192 x 192 go to the
 * type-line engine in mode 2 and to the matcher library in modes 3 and 4;
 * every other image to the skeleton engine. Verification uses the type-line
 * engine in mode 1, the matcher library above mode 2, and otherwise converts
 * both templates (native, ISO, ANSI or identity-card feature) to the native
 * format and compares them with the skeleton engine.
 *
 * The type-line road writes the type-line template at byte 0 of the output
 * and, with a context, the native template from byte 512 on; extraction in
 * mode 2 answers the template's minutiae count, 0 when the type-line
 * extractor fails (the device API turns that into its extraction failure).
 * Verification in mode 1 answers the type-line score 0..1000, set to 0 when
 * a score of 100 or more is not confirmed by the native halves, and lowered
 * by 40 when above 40.
 *
 * The matcher-library road (zylquenta.h) makes an engine for the one call
 * and frees it: extraction writes a wrapped template of up to
 * ZYLFPSCAN_TEMPLATE_SLOT_SIZE (20480) bytes, so out must hold a whole
 * template slot there, and answers 0 or the library's status (1, 2, 9);
 * verification reads wrapped templates that lie within a slot and answers
 * the engine's score / 675 (0..93 in practice) or the negated library
 * status; no context is needed. */

#define DEVALG_ERR_NO_CONTEXT (-2)
#define DEVALG_ERR_VERIFY_INCOMPLETE (-401)
#define DEVALG_ERR_UNKNOWN_FORMAT (-402)
/* Bytes of each template that format detection looks at. */
#define DEVALG_TEMPLATE_READ_SIZE 512

ZYL_EXTERN_C_BEGIN

/* Extracts a template from a width x height grey image into out (1024
 * bytes; a template slot of 20480 on the matcher-library road) and its
 * length into *out_length. On the skeleton road: -2 without
 * a context, else XWExtract's result (0, -103 for a poor image, -101, -102,
 * -4); the pixels are overwritten with the skeleton there, so callers that
 * keep the image pass a copy. On the type-line road (mode 2, see above):
 * the minutiae count, 0 on failure. On the matcher-library road: 0, or
 * the library's status with nothing written. */
ZYL_API int32_t DevAlgExtract(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                              int32_t* out_length, XWContext* context);
/* The same into an ISO/IEC 19794-2 or ANSI INCITS 378 minutiae record with
 * the given finger position: -2 without a context, else XWExtract_ISO's or
 * XWExtract_ANSI's result. */
ZYL_API int32_t DevAlgExtract_ISO(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                                  int32_t* out_length, uint8_t finger_position, XWContext* context);
ZYL_API int32_t DevAlgExtract_ANSI(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                                   int32_t* out_length, uint8_t finger_position, XWContext* context);
/* Compares two templates: the score 0..1000 (0..97 above mode 2, see
 * above), or a negative status: -4 for
 * a null template, -402 for a template in none of the four formats (a QXE
 * container included), a converter's status (-901), -2 without a context,
 * -401 when the comparison did not complete. */
ZYL_API int32_t DevAlgVerify(const uint8_t* template_a, const uint8_t* template_b, XWContext* context);
/* Merges three native templates of one finger: -2 without a context, else
 * XWGeneralize's result. */
ZYL_API int32_t DevAlgGeneralize(const uint8_t* template_1, const uint8_t* template_2, const uint8_t* template_3,
                                 uint8_t* out, int32_t* out_length, XWContext* context);
/* Reads a 512-byte identity-card feature into a native template (out holds
 * 1024 bytes), its length and the feature's secondary code: 0, the reader's
 * -1 or -2, -4 for a null argument, -2 when no work context can be made. */
ZYL_API int32_t DevAlgIdcfeaToNuvelfea(const uint8_t* card, uint8_t* out, int32_t* out_length,
                                       uint8_t* secondary_code);

ZYL_EXTERN_C_END
