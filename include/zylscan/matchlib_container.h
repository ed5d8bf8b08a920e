/* Matcher library template container and section access.
 *
 * A template that carries several kinds of features is a "VORNALI"
 * container (format 84): up to ten entries, each the bytes of one section
 * under its format code. Containers are immutable: every operation that
 * changes one answers a new blob (one reference for the caller) and leaves
 * its inputs as they were.
 *
 * Stored form (big-endian), the only one written ("CRC form"):
 *   "VORNALI\0", flag 1, entry count n (0..10), u32 header CRC,
 *   n x {u16 code (never 0), u32 length L, u32 CRC-32 of the data, data},
 *   "FOOF".
 * The plain form (flag 0) has no CRC fields and no trailer; it is read only.
 *
 * The format-86 section is the sample information of one impression
 * (SampleInfo below). */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  CONTAINER_FORMAT = 84,
  SAMPLE_INFO_FORMAT = 86,
  CONTAINER_MAX_ENTRIES = 10,
  CONTAINER_MIN_SIZE = 14 /* magic, flag, count, header CRC */
};

typedef struct ContainerEntry {
  uint16_t format;
  uint32_t length;
  const uint8_t* data; /* borrowed: into the container bytes or caller memory */
  uint32_t crc;        /* CRC-32 of the data; 0 for the plain form */
} ContainerEntry;

/* Parsed view of a container; borrows the data and owns nothing. */
typedef struct ContainerTable {
  uint8_t form; /* non-zero: CRC form */
  uint8_t count;
  uint32_t header_crc;
  ContainerEntry entries[CONTAINER_MAX_ENTRIES];
} ContainerTable;

/* Sample information of one impression (format-86 section). */
typedef struct SampleInfo {
  uint16_t width;
  uint16_t height;
  uint16_t quality; /* low byte: the view quality; high byte: a second quality byte or 0 */
  uint16_t resolution;
  uint16_t offset_y;
  uint16_t offset_x;
  uint16_t source_height;
  uint16_t source_width;
  uint32_t finger_attribute;
  uint32_t finger_position;
  uint32_t finger_value;
} SampleInfo;

/* Raw bytes and tables. */
ZYL_API int container_parse(const uint8_t* data, uint32_t length, ContainerTable* out);
ZYL_API uint32_t container_header_crc(const ContainerTable* table);
/* Finds the entry of a code in container bytes whose magic the caller has
 * checked: 0 found, 6 absent, 3 when the entry headers leave the bytes. */
ZYL_API int container_locate(const uint8_t* bytes, uint32_t length, int32_t format,
                             ContainerEntry* out);
ZYL_API int container_table_from_blob(const DataBlob* blob, ContainerTable* out);
ZYL_API DataBlob* container_build(const ContainerTable* table);
ZYL_API DataBlob* container_from_table(const ContainerTable* table);
ZYL_API int container_magic_ok(const uint8_t* bytes, uint32_t length);
/* 1 valid, 0 not. Level 0: magic and trailer; 1: also parses and the header
 * CRC matches; 2 and above: also every entry's data CRC. A negative level
 * stops after the parse. */
ZYL_API int container_verify(const uint8_t* bytes, uint32_t length, int level);

/* Blob level. */
ZYL_API int container_find_entry(const DataBlob* blob, int32_t format, const uint8_t** data,
                                 uint32_t* length);
ZYL_API int container_has_entry(const DataBlob* blob, int32_t format);
ZYL_API int container_is_empty(const DataBlob* blob);
ZYL_API DataBlob* container_put_entry(DataBlob* blob, int32_t format, const uint8_t* data,
                                      uint32_t length);
ZYL_API DataBlob* container_take_entry(DataBlob* blob, int32_t format, const uint8_t** data,
                                       uint32_t* length);
ZYL_API DataBlob* container_remove_entry(DataBlob* blob, int32_t format);
ZYL_API DataBlob* container_keep_codes(DataBlob* blob, const int32_t* formats, int32_t count);
ZYL_API DataBlob* container_from_blob(DataBlob* blob);
ZYL_API DataBlob* container_merge(DataBlob* first, DataBlob* second);

/* Section access: the bytes of a format whether the blob is of that format,
 * a container with such an entry, or a composite card template carrying it.
 * 0 with borrowed bytes (valid while the blob lives); 2 null argument, 3
 * malformed or not a template that can hold sections, 6 absent, or the
 * card parser's status. Outputs are null and 0 unless 0 is answered. */
ZYL_API int tmpl_get_section(const DataBlob* blob, int32_t format, const uint8_t** data,
                             uint32_t* length);
ZYL_API int tmpl_has_section(const DataBlob* blob, int32_t format);

/* Section of a composite card template (format 67 or 78); defined with the
 * composite card templates. */
ZYL_API int tmpl_card_section(const uint8_t* bytes, uint32_t length, int32_t format,
                              const uint8_t** data, uint32_t* data_length);

/* Sample information. The context is not used. sample_info_read fills only
 * the fields the stored version carries: 1 version 0, 4 section shorter
 * than its version needs, else tmpl_get_section's status. sample_info_write
 * stores the 31-byte version-6 section into a new container made from
 * *blob (other sections and the image kept) and replaces *blob (the caller
 * keeps its reference to the old one); 9 on failure, *blob unchanged. */
ZYL_API int sample_info_read(void* context, const DataBlob* blob, SampleInfo* out);
ZYL_API int sample_info_write(void* context, const SampleInfo* info, DataBlob** blob);

ZYL_EXTERN_C_END
