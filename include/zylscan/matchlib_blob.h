/* Matcher library data blob: the reference-counted typed byte buffer that
 * carries templates and intermediate data, and the library's CRC-32. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct DataBlob DataBlob;
typedef struct GrayImage GrayImage;
typedef void (*BlobReleaseRoutine)(void* user);

/* Constructors answer a new blob with one reference, or null when memory
 * runs out or the data pointer is null with a non-zero length. */
ZYL_API DataBlob* blob_create(int32_t format, const void* data, uint32_t length);
ZYL_API DataBlob* blob_view(int32_t format, const void* data, uint32_t length);
ZYL_API DataBlob* blob_wrap(int32_t format, void* data, uint32_t length, int owns,
                            BlobReleaseRoutine release, void* user);
ZYL_API DataBlob* blob_copy(const DataBlob* blob);

ZYL_API DataBlob* blob_retain(DataBlob* blob);
ZYL_API void blob_release(DataBlob* blob);
ZYL_API uint32_t blob_refcount(const DataBlob* blob);

ZYL_API int blob_equal(const DataBlob* a, const DataBlob* b);
/* Format code with the aliases 4 -> 1, 5 -> 2, 6 -> 3, 73 -> 67, 74 -> 67. */
ZYL_API int32_t blob_type(const DataBlob* blob);
ZYL_API void blob_set_type(DataBlob* blob, int32_t format);
ZYL_API uint8_t* blob_data(const DataBlob* blob);
ZYL_API uint32_t blob_size(const DataBlob* blob);
ZYL_API void blob_set_image(DataBlob* blob, GrayImage* image);
ZYL_API GrayImage* blob_get_image(const DataBlob* blob);
ZYL_API int blob_owns_data(const DataBlob* blob);
ZYL_API void blob_set_owns_data(DataBlob* blob, int owns);

/* Serialised form: marker (1 blob, 0 none), low byte of the format code,
 * BE u32 length, payload. blob_write answers the byte count (size-or-write). */
ZYL_API uint32_t blob_write(uint8_t* out, const DataBlob* blob);
/* Reads a serialised blob; the caller guarantees that marker, header and
 * payload are present. Answers the bytes consumed: 1 for a marker 0,
 * 6 + L for a blob (new in *out), 0 with *out = null when memory runs out.
 * Readers of untrusted bytes use blob_read_bounded. */
ZYL_API uint32_t blob_read(const uint8_t* in, DataBlob** out);
/* As blob_read within the first `available` bytes; 0 with *out = null when
 * the serialised blob does not fit in them. */
ZYL_API uint32_t blob_read_bounded(const uint8_t* in, uint32_t available, DataBlob** out);

/* View quality: the low byte of the quality word of the blob's sample
 * information section; 0 for null or when the section is absent or
 * unreadable. blob_with_quality answers a new blob equal to the given one
 * with that byte replaced (null for null or on any failure); the given blob
 * is neither changed nor released. Defined with the template containers. */
ZYL_API uint8_t blob_get_quality(const DataBlob* blob);
ZYL_API DataBlob* blob_with_quality(DataBlob* blob, uint8_t quality);

/* CRC-32 (reflected polynomial 0xEDB88320, initial all ones, final complement). */
ZYL_API uint32_t crc32_compute(const void* data, uint32_t length);
ZYL_API void crc32_init(uint32_t* state);
ZYL_API void crc32_update(const void* data, uint32_t length, uint32_t* state);
ZYL_API uint32_t crc32_final(const uint32_t* state);

ZYL_EXTERN_C_END
