/* Matcher library minutiae record and the standard finger minutiae records
 * it is written to and read from: ISO/IEC 19794-2:2005 and :2011, ANSI
 * INCITS 378-2004 and -2009 ("ISO 2005", "ISO 2011", "ANSI 2004", "ANSI
 * 2009"), with the extended data blocks of the ISO forms (cores and
 * deltas, zonal quality, orientation and ridge-frequency maps).
 *
 * Builders answer a new malloc'd buffer (the caller frees it); parsers fill
 * a caller's record and never read past `size` bytes nor past the length
 * the record declares. All multi-byte fields are big-endian. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Registered numbers the records carry. The values are configuration of a
 * build; these defaults are placeholders. */
#ifndef MINREC_DEFAULT_PRODUCT_ID
#define MINREC_DEFAULT_PRODUCT_ID 0x00000000u
#endif
#ifndef FMR_QUALITY_VENDOR_ID
#define FMR_QUALITY_VENDOR_ID 0x0000u
#endif

enum {
  MINREC_MAX_MINUTIAE = 255,
  MINREC_MAX_SINGULAR = 4,
  MINREC_RESOLUTION = 197, /* pixels per centimetre: 500 dpi */
  MINREC_FIT_WINDOW = 492
};

typedef struct MinutiaEntry {
  uint16_t y;
  uint16_t x;
  uint8_t direction; /* 256 steps a turn */
  uint8_t type;      /* 0 other, 1 ridge ending, 2 bifurcation */
  uint8_t quality;   /* 0..100, 0 = not given */
  uint8_t extra;     /* 4-bit value for the card quality element; parsers set 5 */
} MinutiaEntry;

typedef struct CoreEntry {
  uint16_t y;
  uint16_t x;
  uint8_t angle;
  uint8_t type; /* non-zero: the angle is present */
} CoreEntry;

typedef struct DeltaEntry {
  uint16_t y;
  uint16_t x;
  uint8_t angles[3];
  uint8_t type; /* non-zero: the angles are present */
} DeltaEntry;

typedef struct CoreList {
  CoreEntry entries[MINREC_MAX_SINGULAR];
  uint8_t count;
} CoreList;

typedef struct DeltaList {
  DeltaEntry entries[MINREC_MAX_SINGULAR];
  uint8_t count;
} DeltaList;

typedef struct ZonalQuality {
  uint8_t* cells; /* rows x columns, row-major, 0..100; malloc'd */
  uint8_t rows;
  uint8_t columns;
  uint8_t cell_height;
  uint8_t cell_width;
} ZonalQuality;

/* Orientation map (0 empty, else direction / 2 + 64) or ridge-frequency map
 * (0 empty, else a ridge period). */
typedef struct CellMap {
  uint8_t* cells; /* rows x columns, row-major; malloc'd */
  uint8_t rows;
  uint8_t columns;
  uint8_t cell_size;
  int16_t origin_first;
  int16_t origin_second;
} CellMap;

typedef struct MinutiaeRecord {
  MinutiaEntry minutiae[MINREC_MAX_MINUTIAE];
  uint8_t count;
  uint16_t height;
  uint16_t width;
  uint16_t resolution;
  uint32_t product_id;
  uint8_t finger_position;
  uint8_t impression_type;
  uint8_t finger_quality;
  CoreList cores;
  DeltaList deltas;
  ZonalQuality zonal_quality;
  CellMap orientation;
  CellMap frequency;
  /* Extraction fields: set by the extraction drivers and filled by the
   * minutiae pipelines; the standard-record builders do not read them. */
  uint16_t options;       /* MinutiaeOptions of the run */
  uint8_t max_count;      /* most minutiae kept by the selection */
  uint8_t order_code;     /* MinutiaeOrder */
  uint8_t cores_wanted;   /* non-zero: the core list is filled */
  uint8_t deltas_wanted;  /* non-zero: the delta list is filled */
  uint16_t zonal_wanted;  /* bit 0: the zonal-quality map is filled */
  uint16_t orientation_wanted; /* bit 0 wanted, bit 1 fine 3 x 3 sub-cells */
  uint16_t frequency_wanted;   /* bit 0 wanted, bit 1 fine 3 x 3 sub-cells */
  uint8_t* orientation_fine;   /* 3 rows x 3 columns per cell; malloc'd */
  uint8_t* frequency_fine;     /* 3 rows x 3 columns per cell; malloc'd */
  int32_t centroid_row;        /* foreground centroid */
  int32_t centroid_column;
  uint8_t quality_value;       /* copy of the finger quality */
  int32_t area;                /* foreground area in pixels */
  uint8_t trace_value[4];      /* ridge-trace statistics (card element CA) */
  struct {
    uint32_t length;
    uint8_t* data; /* malloc'd */
  } trace_slots[57];
} MinutiaeRecord;

ZYL_API MinutiaeRecord* minrec_create(void);
ZYL_API void minrec_free(MinutiaeRecord* record);

/* Builders: 3 unless the resolution is 197, 9 no memory, else 0 with the
 * record in *out and its size in *out_size (optional). */
ZYL_API int fmr_build_iso2005(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);
ZYL_API int fmr_build_ansi2004(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);
ZYL_API int fmr_build_ansi2009(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);
ZYL_API int fmr_build_iso2011(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);
/* The ISO 2011 writer without the resolution check. */
ZYL_API int fmr_write_iso2011(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);

/* Parsers: 0, 3 bad header, too short or declared longer than `size`,
 * 1 resolution fields unequal or not 197. On failure the record is
 * undefined. */
ZYL_API int fmr_parse_iso2005(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
ZYL_API int fmr_parse_iso2011(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
ZYL_API int fmr_parse_iso(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
ZYL_API int fmr_parse_ansi2004(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
ZYL_API int fmr_parse_ansi2009(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
ZYL_API int fmr_parse_ansi(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);

/* Converters between the families, keeping the first `max_minutiae`. */
ZYL_API int fmr_to_iso2005(const uint8_t* bytes, uint32_t size, int max_minutiae, uint8_t** out,
                           uint32_t* out_size);
ZYL_API int fmr_to_iso2011(const uint8_t* bytes, uint32_t size, int max_minutiae, uint8_t** out,
                           uint32_t* out_size);
ZYL_API int fmr_to_ansi2004(const uint8_t* bytes, uint32_t size, int max_minutiae, uint8_t** out,
                            uint32_t* out_size);
ZYL_API int fmr_to_ansi2009(const uint8_t* bytes, uint32_t size, int max_minutiae, uint8_t** out,
                            uint32_t* out_size);

/* Inspection. */
ZYL_API int fmr_version(const uint8_t* bytes, uint32_t size);
ZYL_API uint32_t fmr_get_length(const uint8_t* bytes, uint32_t size);
ZYL_API uint32_t fmr_get_length_ansi(const uint8_t* bytes, uint32_t size);
ZYL_API int fmr_check_iso_size(const uint8_t* bytes, uint32_t size);
ZYL_API int fmr_check_ansi_size(const uint8_t* bytes, uint32_t size);
ZYL_API int fmr_merge_views(const uint8_t* first, uint32_t first_size, int first_finger,
                            const uint8_t* second, uint32_t second_size, int second_finger,
                            uint8_t** out, uint32_t* out_size);

/* Extended data blocks of ISO records (" 20" read as ISO 2005, "030" as
 * ISO 2011). Writers take the caller's pointer to a record this library
 * built, replace it by a longer copy (the old buffer freed) and update the
 * lengths: 0, 3 wrong version, 2 bad bit depth, 9 no memory (old record
 * kept). */
ZYL_API int fmr_add_core_delta_block(uint8_t** record, const CoreList* cores,
                                     const DeltaList* deltas);
ZYL_API int fmr_add_zonal_quality_block(uint8_t** record, const ZonalQuality* quality, int bits);
ZYL_API int fmr_add_orientation_block(uint8_t** record, const CellMap* map);
ZYL_API int fmr_add_frequency_block(uint8_t** record, const CellMap* map);
/* Readers, bounded by `size`: 3 wrong version or malformed block, 9 no
 * memory. Without its block the core/delta reader gives counts 0 and the
 * zonal reader an empty map (both 0); the map readers answer 3. Arrays the
 * readers fill are malloc'd (previous ones are not freed). */
ZYL_API int fmr_read_core_delta_block(const uint8_t* record, uint32_t size, CoreList* cores,
                                      DeltaList* deltas);
ZYL_API int fmr_read_zonal_quality_block(const uint8_t* record, uint32_t size,
                                         ZonalQuality* quality);
ZYL_API int fmr_read_orientation_block(const uint8_t* record, uint32_t size, CellMap* map);
ZYL_API int fmr_read_frequency_block(const uint8_t* record, uint32_t size, CellMap* map);
/* The u16 extended data area length of an ISO record: pointer to it (null
 * when the record is not an ISO record of that size), and an adder. */
ZYL_API int fmr_ext_data(const uint8_t* record, uint32_t size, const uint8_t** area);
ZYL_API int fmr_ext_length_add(uint8_t* record, uint32_t size, int delta);
ZYL_API void coredelta_rescale(uint8_t* entries, int count, int from, int to, int angle_bytes,
                               int x_origin, int y_origin);
ZYL_API int minrec_fit_coordinates(MinutiaeRecord* record);

ZYL_EXTERN_C_END
