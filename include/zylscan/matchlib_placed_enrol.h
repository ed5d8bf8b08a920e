/* Matcher library placement-checking enrolment: an enrolment object that
 * takes impressions of one finger one at a time (images it extracts, or
 * finished templates), compares each with the impressions accepted so far,
 * refuses one lying at the same place as a matching accepted impression,
 * links the accepted ones by their pairwise alignments to report how much
 * of the finger they cover (and to draw their placements on a picture), and
 * merges them into one multi-view template. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_enrol.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_polygon.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct EnrolSettings {
  uint32_t further[4];       /* carried, not read by the placement enrolment */
  uint16_t further_limit;    /* carried, not read */
  uint16_t capacity;         /* sample slots; 0 refuses creation */
  uint32_t serialise_flag;   /* handed to the multi-view template writer */
  uint32_t size_limit;       /* of the merged template; 0 = none */
  uint32_t merge_flag;       /* 0: the merged views are not given the keep flag */
  GrayImage* base_image;     /* background of the placement picture, or null */
  uint32_t accept_duplicates;
  uint16_t shift_tolerance;  /* pixels at 500 dpi */
  uint8_t angle_tolerance;   /* 1/256 turn */
  uint8_t quality_limit;     /* the merged template's quality-table entry */
  int32_t quality_value;
} EnrolSettings;

/* One drawn placement: the four corners of an impression's rectangle in the
 * frame of its tree's root, and its flags. */
enum {
  ENROL_PLACEMENT_NEWEST = 0x01,  /* the impression offered last */
  ENROL_PLACEMENT_REFUSED = 0x02
};
typedef struct EnrolPlacement {
  PolyPoint corners[4]; /* (0,0), (w,0), (w,h), (0,h) mapped into the root's frame */
  uint32_t flags;
} EnrolPlacement;
/* The placements of one alignment tree. The layout hook receives an array
 * of these, one per tree, largest tree first, lent for the call. */
typedef struct EnrolCornerList {
  EnrolPlacement* placements;
  int32_t count;
} EnrolCornerList;
/* Frees an array of n lists whose buffers, like the array, were allocated
 * with malloc (a hook's kept copy); null passes. */
ZYL_API void enrol_corner_lists_free(EnrolCornerList* lists, int n);

/* A new enrolment (its head dispatches through matchlib_enrol.h), or null
 * when the capacity is 0 or memory runs out. The engine, context, finger
 * information and the settings' base image are retained; the hooks are
 * not owned. With a base image the padded picture is made at once and
 * handed to the picture hook. Capacities above 255 are cut to 255, the
 * most views a comparison or a multi-view template takes. */
ZYL_API EnrolSession* enrol_create(MatchEngine* engine, MatchContext* context, FingerInfo* finger,
                                   const EnrolHooks* hooks, uint32_t format,
                                   const EnrolSettings* settings);
/* Settings from the engine's configuration; the engine's context and
 * output format; image: the base image, or null. */
ZYL_API EnrolSession* enrol_create_default(MatchEngine* engine, FingerInfo* finger,
                                           const EnrolHooks* hooks, GrayImage* image);

/* Adds an image (extracted by the engine) or a finished template: 0 whether
 * the impression was accepted or refused (the count and the hook events
 * tell); 19 when full; 2 for neither input or an image with a resolution of
 * 0; the extraction or comparison status; 9. coverage (int*, optional): the
 * share of the finger covered so far in percent, 0 when no placement work
 * ran. */
ZYL_API int placed_enrol_add(EnrolSession* enrolment, GrayImage* image, DataBlob* tmpl,
                             void* coverage);
ZYL_API int placed_enrol_count(EnrolSession* enrolment);
ZYL_API int placed_enrol_set_tolerance(EnrolSession* enrolment, uint16_t shift, uint8_t angle,
                                       void* unused);
/* The hooks (null for a null enrolment). Through the head's optional slot
 * (enrol_call_optional) the hooks are written to *(const EnrolHooks**)a,
 * answering 0, or 2 for a null a. */
ZYL_API const EnrolHooks* placed_enrol_hooks(EnrolSession* enrolment);
ZYL_API MatchContext* placed_enrol_context(EnrolSession* enrolment);
/* Releases the samples and the pair matrix, drops the placement forest,
 * sets the count and the coverage to 0; 2 for null. */
ZYL_API int placed_enrol_reset(EnrolSession* enrolment);
/* A new format-80 blob merging the samples: 0; 2 null output; 1 empty; 9;
 * the status of the multi-view build. */
ZYL_API int placed_enrol_finalise(EnrolSession* enrolment, uint8_t maximum_views, DataBlob** out,
                                  void* unused);
/* The same with the engine configuration's most views. */
ZYL_API int placed_enrol_finalise_engine(MatchEngine* engine, EnrolSession* enrolment,
                                         DataBlob** out);
ZYL_API void placed_enrol_destroy(EnrolSession* enrolment);

/* Compares a template with the accepted samples (at most 3 results at the
 * enrolment's level): the largest score, and the largest overlap percentage
 * of the sample rectangle under a matching result's transform. 0 (both
 * outputs 0 when the enrolment is empty); 2; the comparison status. */
ZYL_API int enrol_best_match(EnrolSession* enrolment, DataBlob* tmpl, uint8_t* out_overlap,
                             uint16_t* out_score);

/* The image resolution the placement enrolment took from its impressions
 * (0 for null, for another kind of enrolment object, or before the first
 * image). */
ZYL_API uint32_t enrol_image_resolution(EnrolSession* enrolment);

ZYL_EXTERN_C_END
