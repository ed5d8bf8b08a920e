/* Matcher library keyed 16-bit reference planes: per one-byte key, a
 * running-average reference of the full sensor area learned from 16-bit
 * frames, used to correct later frames of that key into 8-bit images. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_image.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* A 16-bit frame: the window at (row offset, column offset) of the full
 * area. */
typedef struct Plane16 {
  uint16_t* pixels;
  uint16_t height;
  uint16_t width;
  uint16_t resolution;
  int16_t row_offset;
  int16_t column_offset;
} Plane16;

/* One key of a set. Keys run from 0 to the key count - 1, each once. */
typedef struct RefPlaneKey {
  uint16_t range;  /* grey range mapped onto 0..255; non-zero */
  uint32_t hold;   /* non-zero: the key neither learns nor corrects */
  uint8_t key;
} RefPlaneKey;

typedef struct RefPlaneSettings {
  int32_t learning;          /* default 1 */
  uint8_t count_cap;         /* default 20 */
  uint8_t weight_threshold;  /* default 10 */
  int32_t pre_filter;        /* default 768 */
  int32_t post_filter;       /* default 128 */
  int32_t band;              /* default 1536 */
} RefPlaneSettings;

typedef struct RefPlaneSet RefPlaneSet;
typedef void (*RefPlanePreRoutine)(void* user, int value1, int value2);
typedef void (*RefPlanePostRoutine)(void* user, int status);

/* 0 with a new set; 2 for a null output, a null key list, a range of 0, a
 * key repeated or not below the key count, or a full area without pixels;
 * 9 when memory runs out. */
ZYL_API int ref_plane_set_create(int full_height, int full_width,
                                 const RefPlaneSettings* settings, const RefPlaneKey* keys,
                                 int key_count, RefPlaneSet** out);
ZYL_API void ref_plane_set_destroy(RefPlaneSet* set);
/* Sets the routines called before and after each correction (either may
 * be null): 0, or 2 for a null set. */
ZYL_API int ref_plane_set_routines(RefPlaneSet* set, RefPlanePreRoutine pre,
                                   RefPlanePostRoutine post, void* user);

/* ---- accessors ---- */
/* The settings block inside the set (null for null). */
ZYL_API RefPlaneSettings* ref_plane_set_settings(RefPlaneSet* set);
ZYL_API int ref_plane_set_key_count(const RefPlaneSet* set);
/* The key byte of entry i; -1 for a null set or i outside 0 .. count - 1. */
ZYL_API int ref_plane_set_key_at(const RefPlaneSet* set, int i);
/* The first key entry with that key byte; null when absent. */
ZYL_API const RefPlaneKey* ref_plane_set_find_key(const RefPlaneSet* set, uint8_t key);
ZYL_API RefPlaneSet* ref_plane_set_retain(RefPlaneSet* set);
/* The last release destroys the set. */
ZYL_API void ref_plane_set_release(RefPlaneSet* set);
/* Learning 1, count cap 20, weight threshold 10, pre-filter 768,
 * post-filter 128, band 1536. */
ZYL_API void ref_plane_settings_default(RefPlaneSettings* settings);
ZYL_API int ref_plane_stub_one(void);

/* Adds 0x7FFF - mean(plane) to every value of the plane (saturating); with
 * a source and an output, writes source + the same shift into the
 * output. */
ZYL_API void plane16_center_mean(uint16_t* plane, const uint16_t* source, uint16_t* out,
                                 int height, int width);
/* Merges values (the frame's size) into the key's reference at the
 * frame's offsets. 0; 2 for a key not in the set; 17 for a frame outside
 * the full area; 9 when memory runs out. */
ZYL_API int ref_plane_accumulate(RefPlaneSet* set, int key, const Plane16* frame,
                                 const uint16_t* values);
/* Filters, centres and (when learning) accumulates each frame; 2 for a key
 * not in the set or a frame without pixels, size or resolution. */
ZYL_API int ref_plane_learn_list(RefPlaneSet* set, const Plane16* frames, int count, int key);
/* The same with the set's pre-filter strength, calling the pre-routine
 * (with the frame's index and the count) and the post-routine (with the
 * frame's status) around each frame. */
ZYL_API int ref_plane_learn_frames(RefPlaneSet* set, const Plane16* const* frames, int count,
                                   int key);
/* Corrects a frame by the key's reference into a new 8-bit image in
 * *out_image (when given). 0, 2, 9 or 17. */
ZYL_API int ref_plane_correct_image(RefPlaneSet* set, const Plane16* frame, int key,
                                    GrayImage** out_image, int value1, int value2);

ZYL_EXTERN_C_END
