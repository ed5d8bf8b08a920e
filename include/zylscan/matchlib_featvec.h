/* Matcher library feature vector: the learned quality model's inputs for
 * one image with the image's size, and its stored form (template kind 87),
 * big-endian, 10 + 4*count bytes:
 *   0 first reserved field (0), 2 width, 4 height, 6 second reserved field
 *   (0), 8 value count n (each 16 bits), 10 n values of 32 bits. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum { FEATVEC_HEADER_SIZE = 10, FEATVEC_MAX_VALUES = 16381 /* size fits 16 bits */ };

typedef struct FeatureVector {
  uint16_t width;
  uint16_t height;
  uint16_t reserved1;
  uint16_t reserved2;
  uint16_t count;
  int32_t* values; /* owned; null while the count is 0 */
} FeatureVector;

/* An empty record (height first in the arguments); 9 out of memory. */
ZYL_API int featvec_create(uint16_t height, uint16_t width, FeatureVector** out);
/* Allocates and writes the stored form (the caller frees it); 2 for a null
 * argument or more than FEATVEC_MAX_VALUES values, 9 out of memory (size
 * 0 then). */
ZYL_API int featvec_write(const FeatureVector* vector, uint8_t** out_bytes, uint16_t* out_size);
/* Parses length bytes of the stored form into a new record: 2 for a null
 * argument, 17 when the bytes are shorter than 10 or than the count needs,
 * 9 out of memory. */
ZYL_API int featvec_read(const uint8_t* bytes, uint32_t length, FeatureVector** out);
ZYL_API void featvec_free(FeatureVector* vector);

ZYL_EXTERN_C_END
