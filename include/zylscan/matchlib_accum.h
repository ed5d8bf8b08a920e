/* Matcher library impression accumulator: the templates and per-pixel maps
 * gathered from successive impressions of one finger on a small sensor, its
 * saved form (versions 1 to 7 read, version 7 written) and the counted byte
 * buffer that carries it between calls. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_enrol.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  ACCUM_SLOTS = 7,
  ACCUM_SETTINGS = 5,
  ACCUM_VERSION = 7,
  /* Block ids of the saved form. */
  ACCUM_BLOCK_HEAD = 0x200,
  ACCUM_BLOCK_TEMPLATE = 0x201,
  ACCUM_BLOCK_BASE_MAP = 0x202,
  ACCUM_BLOCK_MAPS = 0x203,
  ACCUM_HEAD_LENGTH = 23,
  /* The most cells the map statistics take (a larger window answers 1). */
  ACCUM_MAX_CELLS = 65536,
  /* Largest sensor area a saved form that carries no map may ask for: the
   * largest frame a sensor delivers (800 x 600). */
  ACCUM_MAX_SENSOR_CELLS = 480000
};

/* Base-map byte bits. */
enum {
  ACCUM_COVERED = 0x80,
  ACCUM_SEEN = 0x40,
  ACCUM_REPEAT_MASK = 0x30,
  ACCUM_LEVEL_MASK = 0x07
};

typedef struct ImpressionAccumulator ImpressionAccumulator;
struct ImpressionAccumulator {
  int32_t refcount;
  uint16_t height, width;
  uint16_t last_height, last_width, last_row, last_column;
  /* similarity thresholds t1 and t2, overlap similarity threshold, overlap
   * share in percent, and a fifth byte carried along */
  uint8_t settings[ACCUM_SETTINGS];
  DataBlob* slots[ACCUM_SLOTS]; /* format 79, slot 0 the most recent full-size template */
  uint8_t* base_map;            /* height x width */
  uint8_t* mean_image;          /* height x width, or null */
  uint8_t* count_map;           /* height x width, or null */
  void (*destroy)(ImpressionAccumulator* accumulator);
};

/* Counted byte buffer holding an accumulator's saved form. */
typedef struct AccumState {
  uint8_t* bytes;
  uint32_t size;
  uint32_t refcount;
} AccumState;

/* Empty (size 0) or with an owned zeroed buffer of `size` bytes; null on
 * memory failure. */
ZYL_API AccumState* accum_state_create(uint32_t size);
ZYL_API AccumState* accum_state_retain(AccumState* state);
ZYL_API void accum_state_release(AccumState* state);

/* Sized to the image's source height and width; null for a null image, a
 * zero size or memory failure. */
ZYL_API ImpressionAccumulator* accum_create(const GrayImage* image);
/* As accum_create for a given area. */
ZYL_API ImpressionAccumulator* accum_create_sized(uint16_t height, uint16_t width);
ZYL_API ImpressionAccumulator* accum_retain(ImpressionAccumulator* accumulator);
ZYL_API void accum_release(ImpressionAccumulator* accumulator);
/* Increments *counter and answers its address. */
ZYL_API int* accum_count_up(int* counter);
/* Releases the slots and zeroes the maps; 2 for null. */
ZYL_API int accum_reset(ImpressionAccumulator* accumulator);

/* Version-7 saved form (size-or-write: a null output only counts). */
ZYL_API uint32_t accum_write(uint8_t* out, const ImpressionAccumulator* accumulator);
/* 0 with a new state buffer of exactly the written size; 2, 9, or 17 when
 * the written size differs from the counted one. */
ZYL_API int accum_serialize(const ImpressionAccumulator* accumulator, AccumState** out,
                            uint32_t* out_size);
/* 0 with a new accumulator; 2 for null or empty input, 17 for corrupt
 * data, 9 on memory failure. */
ZYL_API int accum_parse(const uint8_t* bytes, uint32_t length, ImpressionAccumulator** out);
/* A deep copy through the saved form, or null. */
ZYL_API ImpressionAccumulator* accum_copy(const ImpressionAccumulator* accumulator);

/* Statistics of a byte map of height x width cells (at most 65536, else 1),
 * counted within the radius of parameter 0x0cb73cb4 around the centre of
 * 0x4dc10c80 (column) and 0x967d3b73 (row) when the radius is not -1:
 * {65535 - mean term, variance, 65535 - top-third mean, 65535 - bottom-third
 * mean}. */
ZYL_API int accum_map_statistics(const MatchContext* ctx, const uint8_t* map, int height, int width,
                                 uint16_t out[4]);

/* ---- adding impressions ---- */

/* Progress of accum_add_images_progress: called before each image of the
 * ordered pass with its index. */
typedef void (*AccumProgress)(MatchContext* ctx, int index, void* user);

/* Adds one impression: 2 unless the image's source height and width are the
 * accumulator's and its window (offsets and size) lies inside the area;
 * otherwise the status of the add: 0, 17 for a running-mean window outside
 * the area, 9, or a failing step's status (the slots and maps keep their
 * previous content). The image's mask plane receives bit 0x40 where the
 * impression repeats the accumulated ones and 0x20 where it repeats the
 * most recent one. */
ZYL_API int accum_add_image(ImpressionAccumulator* accumulator, MatchContext* ctx,
                            GrayImage* image);
/* Adds n images: with more than 5 the last five first, then all n in
 * order; otherwise all in order. 2 for a null list or n below 1; stops at
 * and answers the first failure. The progress form calls progress (may be
 * null) before each image of the ordered pass. */
ZYL_API int accum_add_images(ImpressionAccumulator* accumulator, MatchContext* ctx,
                             GrayImage* const* images, int n);
ZYL_API int accum_add_images_progress(ImpressionAccumulator* accumulator, MatchContext* ctx,
                                      GrayImage* const* images, int n, AccumProgress progress,
                                      void* user);
/* Statistics (accum_map_statistics) of the similarity map of slot index + 1
 * against slot 0 over the last impression's window: 0; 1 for an index
 * outside 0..5; 5 for an empty slot; 9; or the map's status. */
ZYL_API int accum_slot_overlap_stats(const ImpressionAccumulator* accumulator,
                                     const MatchContext* ctx, int index, uint16_t out[4]);
/* The accumulator's band filter: fftfilt_band_by_resolution_u8. */
ZYL_API int accum_band_filter(const uint8_t* pixels, int height, int width, int resolution,
                              uint8_t* out);

/* ---- observing an enrolment object ---- */

/* Installs on the enrolment object an observer that keeps an accumulator in
 * the state buffer (retained) across the object's adds: each offered image
 * is added to it; the first six are also kept, and when the sixth arrives
 * the object and the accumulator are reset, the six are added as one list
 * and the first five offered to the object again (the sixth follows through
 * the current add). 2 for null arguments, 9; a previous observer is
 * removed first. */
ZYL_API int accum_observe_install(EnrolSession* session, AccumState* state);

ZYL_EXTERN_C_END
