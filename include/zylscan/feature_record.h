/* The skeleton engine's shared data: byte images and the feature record. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

#define ZYL_MAX_MINUTIAE 1024
#define ZYL_MAX_SINGULAR_POINTS 64
#define ZYL_MAX_BLOCKS 128

/* Rows of 8-bit pixels, row 0 at the top; width and height travel beside it. */
typedef uint8_t** ByteImage;

/* The engine's feature set (in memory only). Only the first minutiaCount
 * minutia entries, singularCount singular-point entries and blockColumns x
 * blockRows block bytes are meaningful. */
typedef struct FeatureRecord {
  uint8_t borderDensity;     /* 0..255 */
  int32_t minutiaCount;      /* 0..1024 */
  int32_t minutiaX[ZYL_MAX_MINUTIAE];
  int32_t minutiaY[ZYL_MAX_MINUTIAE];
  int32_t minutiaAngle[ZYL_MAX_MINUTIAE];     /* 0..239 */
  int32_t minutiaType[ZYL_MAX_MINUTIAE];      /* 0 ending, 1 bifurcation */
  int32_t minutiaCurvature[ZYL_MAX_MINUTIAE]; /* 0..255; 255 or -1 absent */
  int32_t singularCount;     /* 0..64 */
  int32_t singularX[ZYL_MAX_SINGULAR_POINTS];
  int32_t singularY[ZYL_MAX_SINGULAR_POINTS];
  int32_t singularAngle[ZYL_MAX_SINGULAR_POINTS];
  int32_t singularKind[ZYL_MAX_SINGULAR_POINTS]; /* 1, -1 or 2 */
  uint32_t blockColumns;     /* <= 128 */
  uint32_t blockRows;        /* <= 128 */
  uint8_t blockDirections[ZYL_MAX_BLOCKS * ZYL_MAX_BLOCKS]; /* row r at r * 128 */
} FeatureRecord;

ZYL_EXTERN_C_BEGIN

/* Allocates height zero-filled rows of width bytes; null on a bad size or
 * when memory runs out. */
ZYL_API ByteImage CreateByteImage(int32_t width, int32_t height);
/* Frees the rows and the row array; returns 0. */
ZYL_API int32_t FreeImage(ByteImage image, int32_t height);
/* Copies width bytes of each row; returns height. */
ZYL_API int32_t CopyByteImage(int32_t width, int32_t height, ByteImage source, ByteImage destination);
/* Copies the meaningful part of a feature record; returns 0. */
ZYL_API int32_t CopyFeatures(FeatureRecord* destination, const FeatureRecord* source);

ZYL_EXTERN_C_END
