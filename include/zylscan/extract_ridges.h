/* Ridge tracing on the skeleton: minutia directions, gap joining, junction
 * description and loop removal.
 *
 * Skeleton images: ridge 0, background 255. D is the direction image; a D
 * byte with bit 7 set marks a bad-area pixel. Directions are 0..239 (1.5
 * degree steps, y downwards). */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/zyl_export.h"

#define ZYL_NODE_MAX_PIXELS 30
#define ZYL_NODE_MAX_BRANCHES 4

/* One traced branch of a junction. endKind: 0 the ridge ended, 1 thirty pixels
 * traced without stopping, 2 reached another junction or an earlier branch,
 * -1 any other stop. direction: from the junction to the last traced pixel. */
typedef struct NodeBranch {
  int32_t x[ZYL_NODE_MAX_PIXELS];
  int32_t y[ZYL_NODE_MAX_PIXELS];
  int32_t count;
  int32_t endKind;
  int32_t direction;
} NodeBranch;

/* A junction and up to three of its branches (room for four). angleDiff holds
 * the folded direction differences of branches 0-1, 1-2 and 0-2, 255 each
 * unless there are three branches. */
typedef struct NodeRecord {
  int32_t startX;
  int32_t startY;
  NodeBranch branches[ZYL_NODE_MAX_BRANCHES];
  int32_t angleDiff[3];
  int32_t branchCount;
} NodeRecord;

ZYL_EXTERN_C_BEGIN

/* Joins pairs of ridge endings that face each other across a short gap. */
ZYL_API void EliminateLines(int32_t width, int32_t height, ByteImage skeleton, ByteImage D);

/* Direction of the ridge leaving the ending at (x, y), or -20 when it does not
 * run 20 clean steps. The skeleton is left as it was. */
ZYL_API int32_t ComputeEndDirection(int32_t width, int32_t height, ByteImage skeleton,
                                    int32_t y, int32_t x);

/* Direction of the bifurcation at (x, y): between its two closest branches;
 * -666 when a branch is shorter than 10 steps, -20 when the branches do not
 * spread. The skeleton is left as it was. */
ZYL_API int32_t ComputeBranchDirection(int32_t width, int32_t height, ByteImage skeleton,
                                       int32_t y, int32_t x);

/* Sets (x1, y1) and the straight walk from (x0, y0) up to it to ridge. */
ZYL_API void Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, ByteImage skeleton);

/* Traces the branches of the junction at (x, y) into node. keep 0 leaves all
 * traced pixels erased, keep 1 leaves them all ridge. Returns the branch
 * count. */
ZYL_API int32_t GetNode(ByteImage skeleton, int32_t width, int32_t height, int32_t x, int32_t y,
                        NodeRecord* node, int32_t keep);

/* 1 T-shaped junction, 2 Y-shaped, -1 otherwise. */
ZYL_API int32_t NodeType(const NodeRecord* node);

/* Opens a small loop or cuts a short bridge at the junction (x, y). */
ZYL_API void EliminateEye(int32_t width, int32_t height, ByteImage skeleton, int32_t x, int32_t y);

/* EliminateEye at every good pixel at least 21 pixels inside the image. */
ZYL_API void EliminateEyes(int32_t width, int32_t height, ByteImage skeleton, ByteImage D);

ZYL_EXTERN_C_END
