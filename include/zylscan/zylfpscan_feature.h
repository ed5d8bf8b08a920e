/* Feature and verification calls of the device API.
 *
 * Features are extracted from the image that the last capture left in the
 * device (ZYLFPSCAN_CaptureRawData and the other captures) into the
 * caller's 1024-byte buffer; byte 5 of a native template holds its number
 * of minutiae. In algorithm modes 3 and 4 (the 0x1061 and 0x2021 scanners
 * select 3, the 0x2031 selects 4) the images of those small scanners go to
 * the matcher library, whose templates (wrapped, see zylquenta.h) take
 * about 2 KB in mode 3 and 16 KB in mode 4: there the feature buffer
 * of ZYLFPSCAN_ExtractFeature and ZYLFPSCAN_ExtractCIDFeature is one
 * template slot, ZYLFPSCAN_TEMPLATE_SLOT_SIZE (20480) bytes, zeroed whole;
 * a template that would not fit is refused (1, nothing but the zeroing
 * written). Their scores run 0..93, so levels 8 to 11 never match there. Templates are compared through the device's algorithm
 * context and decided at a security level 1..11: a comparison matches when
 * its score (0..1000) is above the level's threshold
 * 23, 29, 35, 47, 59, 71, 83, 95, 107, 119, 131.
 *
 * Arguments are checked in this order: SDK initialised (-905), handle
 * (-103), output buffers (10), ranges (-900), algorithm context (-103); the
 * calls that differ say so. */
#pragma once

#include "zylscan/zyl_export.h"
#include "zylscan/zylfpscan_status.h"

#define ZYLFPSCAN_FEATURE_SIZE 1024
#define ZYLFPSCAN_TEMPLATE_SLOT_SIZE 20480
#define ZYLFPSCAN_MIN_SECURITY_LEVEL 1
#define ZYLFPSCAN_MAX_SECURITY_LEVEL 11

ZYL_EXTERN_C_BEGIN

/* Native template of the last image into feature (1024 bytes, or a
 * 20480-byte slot in modes 3 and 4 as above, zeroed first). count (0..10) is checked and otherwise unused. Images that go to
 * the type-line engine (AlgMode 2, at most 192 x 192): 0 when it found
 * minutiae, else -221. Other images at most 192 pixels wide: the engine's
 * own result. Wider ones: 0 when the template has more than 4 minutiae,
 * else -221. The last image is left as it was. */
ZYL_API int ZYLFPSCAN_ExtractFeature(void* handle, int count, unsigned char* feature);
/* ISO/IEC 19794-2 (or ANSI INCITS 378) minutiae record of the last image
 * into feature (1024 bytes, zeroed first), for a finger position whose low
 * 8 bits are at most 10 (checked before the output: -900, then 10). -221
 * when the extraction fails. */
ZYL_API int ZYLFPSCAN_ExtractISOFeature(void* handle, int fingerPosition, unsigned char* feature);
ZYL_API int ZYLFPSCAN_ExtractANSIFeature(void* handle, int fingerPosition, unsigned char* feature);
/* Identity-card feature (512 bytes, then 512 zero bytes) of the last image,
 * which is flipped top to bottom first and stays flipped. As
 * ZYLFPSCAN_ExtractFeature for narrow images (the native template is
 * handed out); -221 for too few minutiae. */
ZYL_API int ZYLFPSCAN_ExtractCIDFeature(void* handle, int count, unsigned char* feature);

/* Compares two templates (native, ISO, ANSI or identity-card feature): the
 * score capped at 1000 and match = 1 when it is above the level's
 * threshold. 10 (null template or output), -900 (level), -103 (no
 * context), -220 (algorithm not ready); a failing comparison returns its
 * negative status with score and match 0. */
ZYL_API int ZYLFPSCAN_Verify(void* handle, int level, const unsigned char* template_a,
                             const unsigned char* template_b, int* score, int* match);
/* Compares a feature with count template slots of 20480 bytes (each at
 * level 4) and decides on the best score at the given level: returns and
 * stores 0 for a match, 1 for none (also for count 0), with the best score.
 * A failing comparison counts as no score. 10 (null feature or output, or
 * null slots for count > 0), -900 (level, negative count), -103. */
ZYL_API int ZYLFPSCAN_VerifyExt(void* handle, int level, const unsigned char* feature, int count,
                                const unsigned char* slots, int* best_score, int* result);
/* Copies count slots of 20480 bytes into out: -118 for a null out, 10 for
 * null slots (count > 0), -900 for a negative count. Needs no SDK. */
ZYL_API int ZYLFPSCAN_GeneralizeTemplate(const unsigned char* slots, int count, unsigned char* out);

ZYL_EXTERN_C_END
