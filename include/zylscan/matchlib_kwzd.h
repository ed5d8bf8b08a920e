/* Matcher library "KWZD" container (template format 80): an ordered store
 * of keyed records, each a DataBlob with a small list of typed sections,
 * plus header sections of the container as a whole (addressed by the
 * record key KWZD_HEADER_KEY). Keys handed out by kwzd_append increase; the
 * next free key travels with the stored form.
 *
 * Stored form (big-endian): "KWZD", 0, version (1..3; written 3), record
 * count (255 written: as many as follow), header section count, then in
 * version 3 the header sections and the records (versions 1 and 2: records
 * first). Section: type, u16 length, data. Record: i32 key (-1 stored as
 * 0x80000000), section count, format code, data length (u16 in version 1,
 * u32 otherwise), data, sections. Version 3 may end with an end marker
 * (key 0xFFFFFFFF); everything from there to the end must be 0xFF. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

#define KWZD_HEADER_KEY ((int32_t)0x80000000)
enum { KWZD_FORMAT = 80, KWZD_MAX_RECORDS = 255, KWZD_NEXT_KEY_SECTION = 3 };

typedef struct KwzdContainer KwzdContainer;

/* Writer pair of kwzd_serialize_with. allocate gets the total size and
 * answers a buffer, whether the result blob owns it, and the routine (with
 * its argument) that releases it; append is called with the bytes in order
 * and once with length 0 at the end. Both answer a status. */
typedef int (*KwzdAllocate)(void* context, uint32_t total, uint8_t** buffer, int* owns,
                            BlobReleaseRoutine* release, void** release_argument);
typedef int (*KwzdAppend)(void* context, const uint8_t* bytes, uint32_t length);
typedef struct KwzdWriter {
  KwzdAllocate allocate;
  KwzdAppend append;
} KwzdWriter;

ZYL_API KwzdContainer* kwzd_create(void);
ZYL_API void kwzd_free(KwzdContainer* container);
ZYL_API int kwzd_record_count(const KwzdContainer* container);

/* 2 reserved or present key, or null blob; 1 full; 9 no memory. */
ZYL_API int kwzd_add_record(KwzdContainer* container, int32_t key, DataBlob* blob);
ZYL_API int kwzd_append(KwzdContainer* container, DataBlob* blob, int32_t* key);
ZYL_API int kwzd_remove(KwzdContainer* container, int32_t key);
ZYL_API int kwzd_remove_reuse(KwzdContainer* container, int32_t key);
ZYL_API int kwzd_drop_newest(KwzdContainer* container, int count);
ZYL_API void kwzd_clear(KwzdContainer* container);
/* Blob getters answer one new reference, or null. */
ZYL_API DataBlob* kwzd_find(const KwzdContainer* container, int32_t key);
ZYL_API DataBlob* kwzd_get_at(const KwzdContainer* container, int index, int32_t* key);
ZYL_API int kwzd_next_key(const KwzdContainer* container, int32_t* key);
ZYL_API int kwzd_set_blob(KwzdContainer* container, DataBlob* blob, int32_t key);
ZYL_API int kwzd_replace(KwzdContainer* container, int32_t key, DataBlob* blob);

/* Sections of a record, or of the header with KWZD_HEADER_KEY. */
ZYL_API int kwzd_add_section(KwzdContainer* container, int32_t key, int type, const uint8_t* data,
                             uint16_t length);
ZYL_API int kwzd_remove_section(KwzdContainer* container, int32_t key, int type);
ZYL_API const uint8_t* kwzd_get_section(const KwzdContainer* container, int32_t key, int type,
                                        uint16_t* length);
ZYL_API int kwzd_next_section_type(const KwzdContainer* container, int32_t key, int* type);
ZYL_API int kwzd_copy_section(const KwzdContainer* source, KwzdContainer* target, int32_t key,
                              int type);

ZYL_API uint32_t kwzd_serialized_size(const KwzdContainer* container);
/* 0; 1 blob not of format 80; 2 null argument; 3 malformed; 9 no memory. */
ZYL_API int kwzd_parse(DataBlob* blob, KwzdContainer** out);
ZYL_API int kwzd_serialize_with(KwzdContainer* container, DataBlob** out,
                                const KwzdWriter* writer, void* writer_context);
ZYL_API int kwzd_serialize(KwzdContainer* container, DataBlob** out);
ZYL_API int kwzd_magic_ok(const uint8_t* bytes, uint32_t length);

ZYL_EXTERN_C_END
