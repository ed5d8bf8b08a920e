/* Matcher library keypoint descriptor type: the static record of one
 * descriptor type (a one-bit type id, a variant word and its operations),
 * as the block-structured point record registers and checks them. The ten
 * records and desc_types_select belong to the descriptor part of the
 * library; a build without it knows no descriptor type. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct BlockRecord BlockRecord;
typedef struct MatchBests MatchBests;

typedef struct DescriptorType {
  uint32_t type_id; /* exactly one bit set */
  uint32_t variant; /* bit value 2: point-symmetric sampling pattern */
  int (*compute)(BlockRecord* record, int extension, const uint8_t* pixels, const uint8_t* mask,
                 int height, int width);
  uint32_t (*size)(void); /* bytes per descriptor */
  uint32_t (*get)(const uint8_t* array, int index, uint8_t* destination);
  uint32_t (*put)(const uint8_t* source, uint8_t* array, int index);
  int (*match_lists)(uint32_t probe, uint32_t start, uint32_t count, int invert, int swap,
                     int mode, const BlockRecord* a, const BlockRecord* b, MatchBests* bests);
  int (*pair_distance)(int i, int j, int count, const uint8_t* a, const uint8_t* b, int mode,
                       int invert, uint8_t* out);
  uint32_t (*pattern_id)(void);
  uint32_t (*compared_size)(void);
} DescriptorType;

/* Appends the records whose type id is in `flags` (fixed order) and a null
 * entry to `list` (eleven entries); answers the number appended. */
ZYL_API int desc_types_select(const DescriptorType** list, uint32_t flags);

ZYL_EXTERN_C_END
