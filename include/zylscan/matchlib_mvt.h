/* Matcher library multi-view template: the enrolled reference of one finger,
 * up to 255 views (template blobs of single impressions) kept in a KWZD
 * container (format 80) with per-view alignment, class and flag sections and
 * a header section of the template's settings. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_xform.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct MultiViewTemplate MultiViewTemplate;

/* One section-limit entry: a format code (0 = every view) and the largest
 * number of views that may carry a section of it (255 = no limit). */
typedef struct MvtSectionLimit {
  int32_t format;
  uint8_t limit;
} MvtSectionLimit;

enum {
  MVT_HEADER_SECTION = 1,
  MVT_VIEW_INFO_SECTION = 1,  /* 6 bytes: BE i16 dx, dy, angle byte, flags */
  MVT_CLASS_SECTION = 2,      /* 1 byte; 255 when absent */
  MVT_ALIGN_FLAG_SECTION = 5, /* 1 byte */
  MVT_VIEW_MARKED = 0x01,     /* byte 5 of the view information */
  MVT_VIEW_KEEP = 0x02
};

/* New template with one reference (null when memory runs out). */
ZYL_API MultiViewTemplate* mvt_create(uint8_t maximum_views);
/* Parses a format-80 blob: 0; 2 null argument; 3 bad header; 9 memory; the
 * container parser's status. *out is null unless 0 is answered. */
ZYL_API int mvt_from_blob(DataBlob* blob, MultiViewTemplate** out);
ZYL_API void mvt_release(MultiViewTemplate* t);
ZYL_API MultiViewTemplate* mvt_retain(MultiViewTemplate* t);
/* Format-80 blob of the template (header rewritten first; bit 1 of header
 * byte 2 written as 0 when clear_append is non-zero), or null. */
ZYL_API DataBlob* mvt_serialize(MultiViewTemplate* t, int clear_append);
ZYL_API DataBlob* mvt_serialize_with(MultiViewTemplate* t, int clear_append, const KwzdWriter* writer,
                                     void* writer_context);
/* A deep copy parsed from the template's own serialisation, or null. */
ZYL_API MultiViewTemplate* mvt_reserialize(MultiViewTemplate* t);
/* 1 when both serialise to identical bytes. */
ZYL_API int mvt_equal(MultiViewTemplate* a, MultiViewTemplate* b);

ZYL_API uint8_t mvt_view_flags(const uint8_t* section, uint32_t length);
ZYL_API uint8_t mvt_max_views(const MultiViewTemplate* t);
ZYL_API KwzdContainer* mvt_store(const MultiViewTemplate* t);
ZYL_API int mvt_append_mode(const MultiViewTemplate* t);
ZYL_API uint32_t mvt_size_limit(const MultiViewTemplate* t);
ZYL_API int mvt_all_unmarked(const MultiViewTemplate* t);
/* Copies up to 5 entries of the section-limit table; answers the count. */
ZYL_API int mvt_section_limits(const MultiViewTemplate* t, MvtSectionLimit* out);
ZYL_API void mvt_set_size_limit(MultiViewTemplate* t, uint32_t limit);
ZYL_API void mvt_set_reference_key(MultiViewTemplate* t, int32_t key);
ZYL_API void mvt_set_reference_transform(MultiViewTemplate* t, RigidTransform* transform);
ZYL_API void mvt_set_eviction_rule(MultiViewTemplate* t, int32_t replacement_key);
/* 2 when n is above 4 (or entries null with n > 0); else the n entries (a
 * limit of 0 stored as 255) followed by {0, 255}. */
ZYL_API int mvt_set_quality_table(MultiViewTemplate* t, const MvtSectionLimit* entries, int n);
ZYL_API void mvt_check_view_marks(MultiViewTemplate* t);

ZYL_API int mvt_count_unmarked_views(const MultiViewTemplate* t);
ZYL_API int mvt_count_marked_views(const MultiViewTemplate* t);
ZYL_API int mvt_count_flagged_views(const MultiViewTemplate* t, uint8_t mask);
ZYL_API int mvt_unmarked_percent(const MultiViewTemplate* t);
ZYL_API int mvt_count_views_with_quality(const MultiViewTemplate* t, uint8_t quality);
/* Keys of the unmarked views in store order; out_keys holds 255 entries. */
ZYL_API int mvt_list_unmarked_keys(const MultiViewTemplate* t, int32_t* out_keys, int* out_count);

/* The n-th unmarked view's blob (one new reference), or null; its
 * alignment (a new transform, identity when section 1 is short, flag from
 * section 5), class byte (255 when absent) and key. Outputs may be null. */
ZYL_API DataBlob* mvt_get_view(const MultiViewTemplate* t, int n, RigidTransform** transform,
                               uint8_t* view_class, int32_t* key);
/* A new transform and the class of the view whose blob is that very blob. */
ZYL_API RigidTransform* mvt_view_alignment(const MultiViewTemplate* t, const DataBlob* blob,
                                           uint8_t* view_class);
/* The i-th view's key of a format-80 blob (and the view count), 0x80000000
 * on failure. */
ZYL_API int32_t mvt_blob_get_view(DataBlob* blob, int i, DataBlob** view, int* count);

/* Per view in store order (arrays of 255 entries; any may be null): its
 * alignment (a new transform each, released by the caller), class byte
 * (255 when absent) and the finger value of its sample information (0 when
 * the view has none). 0 with the view count, 2 for null arguments. */
ZYL_API int mvt_view_details(const MultiViewTemplate* t, RigidTransform** transforms, uint8_t* classes,
                             uint32_t* finger_values, int* count);

ZYL_API int mvt_add_view(KwzdContainer* store, DataBlob* blob, const RigidTransform* transform,
                         uint8_t view_class, uint8_t flag_byte, int32_t* key);
ZYL_API int mvt_write_view_sections(KwzdContainer* store, int32_t key, const RigidTransform* transform,
                                    uint8_t flag_byte, uint8_t view_class, uint8_t view_flags);
ZYL_API int mvt_remove_views_with_quality(MultiViewTemplate* t, uint8_t quality);
ZYL_API int mvt_set_views_quality(MultiViewTemplate* t, uint8_t from, uint8_t to);
ZYL_API int mvt_drop_newest(MultiViewTemplate* t, int n);
ZYL_API int mvt_capacity(const MultiViewTemplate* t);

/* ---- view selection ---- */

typedef struct MatchEngine MatchEngine;

enum {
  MVT_ORIGIN_NEW = 0,
  MVT_ORIGIN_STORED = 1,
  MVT_ORIGIN_MARKED = 2,
  MVT_NO_CLASS = 255,
  MVT_NEW_KEY = (int32_t)0x80000000,
  MVT_OPTION_KEEP = 2,          /* option flag: new views get the keep flag */
  MVT_OPTION_DROP_MARKED = 4,   /* option flag: views that would be kept marked are removed */
  MVT_OPTION_FOREST = 8         /* option flag: handed to the alignment forest */
};

/* A view under selection: a stored view or a new one. */
typedef struct MvtCandidate {
  DataBlob* blob;             /* one reference */
  uint8_t quality;            /* the blob's view quality byte */
  int32_t key;                /* MVT_NEW_KEY for a new view */
  int32_t origin;             /* MVT_ORIGIN_* */
  uint8_t view_class;         /* MVT_NO_CLASS when none */
  uint8_t flag_byte;          /* becomes the flag of the view's transform */
  int32_t keep;               /* keep flag: never chosen as a victim */
  RigidTransform* alignment;  /* one reference, may be null */
  int32_t* points;            /* malloc'd coverage points (x, y pairs), may be null */
  int32_t point_count;
} MvtCandidate;

ZYL_API MvtCandidate* mvt_candidate_create(DataBlob* blob);
ZYL_API void mvt_candidate_free(MvtCandidate* candidate);
/* The candidate of the i-th stored view, or null (no such view, no view
 * information section, no memory). */
ZYL_API MvtCandidate* mvt_load_candidate(const KwzdContainer* store, int i);
/* When the template is full, removes the view a new one replaces (chosen at
 * random among views neither keep-flagged nor protected by the engine's
 * per-quality limit), then appends the new blob. 0; 1 with a size limit
 * set; 6 nothing to replace; 2; 9. Keys are -1 where nothing happened. */
ZYL_API int mvt_pick_view_to_replace(MultiViewTemplate* t, MatchEngine* engine, DataBlob* blob,
                                     int32_t* out_removed_key, int32_t* out_new_key);
/* Adds the blobs as views (format-80 blobs contribute their views): 0; 1
 * more than 255 views or a refused replacement-key setting; 9; 17 no victim
 * or an inconsistent selection; 19 the template left empty or over its
 * size limit. taken (optional): 1 a new view added unmarked, 2 added
 * marked, 3 stored views removed or rewritten, 0 nothing. */
ZYL_API int mvt_add_views(MultiViewTemplate* t, MatchEngine* engine, DataBlob* const* blobs, int n,
                          int options, int* out_taken);
/* Classes and alignments from the given pair results (matching pairs
 * grouped into alignment trees), then selection and commit as
 * mvt_add_views. */
ZYL_API int mvt_organize(MultiViewTemplate* t, MatchEngine* engine, PairList* pairs,
                         MvtCandidate* const* candidates, int n, int options, int* out_taken);

ZYL_EXTERN_C_END
