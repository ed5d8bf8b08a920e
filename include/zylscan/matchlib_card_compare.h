/* Matcher library card comparison byte strings.
 *
 * A card comparison input is a list of parts: part 0 is the parameter
 * element EF { C0 header, C4 score table, C2 thresholds, C3 options [, C5,
 * C6] }, every further part a card reference EF { C0 {0x80 | mode, class
 * byte}, EE {probe-form template}... }. Probe forms are card templates
 * (7F2E) whose block maps became a grid feature map (C4) and its origin
 * (C5). Multi-byte fields are big-endian. Builders answer new format-76
 * blobs; readers work on caller buffers and allocate nothing. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_tlv.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct DataBlob DataBlob;

enum {
  CARD_FORMAT = 76,
  CARD_ALGORITHM_ID = 18,
  CARD_PACKING_MASK = 0x03,    /* 0 packed while comparing, 1 CD form, 2 CE form */
  CARD_PRESELECT = 0x08,       /* pre-select templates by grid-map histograms */
  CARD_ALTERNATIVE = 0x10,     /* alternative matchers; C5/C6 tables */
  CARD_MODE_MASK_ALL = 2046,   /* modes 1..10 */
  CARD_TABLE_ENTRIES = 30,
  CARD_ALT_TABLE_ENTRIES = 9,
  CARD_TABLE_ENTRY_SIZE = 10,
  CARD_MAX_TEMPLATES = 64
};

/* The algorithm word of the last parameter element a comparison read on
 * this thread (0 at first). */
ZYL_API uint32_t card_flags_get(void);

/* Candidate class byte of n reference templates: class index b in bits 0-2,
 * interpolation fraction c in bits 3-7; 0 for n of 0 or 1. */
ZYL_API uint8_t card_class_byte(uint32_t n);
/* Threshold of a group from its class byte and the seven thresholds; 0
 * with 17 when the class index is 7. */
ZYL_API int card_group_threshold(uint8_t class_byte, const uint16_t* thresholds,
                                 uint32_t* out_threshold);

/* Score table of n (30 or 9) linear model rows: n 10-byte entries {low,
 * high, mantissa H, 0, exponent G} then the BE i32 offset; `out` holds
 * 10 n + 4 bytes. 0; 2 null arguments or another n; 17 when all weights
 * are 0 or an exponent would exceed 32. */
ZYL_API int card_score_table_build(const ScoreLinearRow* rows, int n, uint8_t* out);
/* Folds a score vector with a score table of n entries: 0..65535 in
 * *out_score. 0; 2 null arguments or another n; 17 an exponent above 32. */
ZYL_API int card_score_weighted_sum(const uint8_t* table, int n, const uint16_t* scores,
                                    uint32_t* out_score);

/* Parameter element from explicit models: a 30-row model (and with the
 * word's bit 4 a 9-row model and its thresholds), the thresholds at `level`
 * of the FAR tables, table tag 0xC4 (or 0xC1). Part 0 size 0: the element's
 * own size rounded up to 16. 0; 2 level above 27, list length above 255,
 * null arguments or a missing alternative model; 17 a model refused by
 * card_score_table_build; 9 no memory. */
ZYL_API int card_params_from_models(uint16_t algorithm_word, const ScoreLinearRow* rows30,
                                    const FarThresholdTable* thresholds,
                                    const ScoreLinearRow* rows9,
                                    const FarThresholdTable* alt_thresholds, uint16_t table_tag,
                                    uint16_t part_count, uint16_t part0_size, uint16_t part_size,
                                    int level, uint16_t option_word, int list_length,
                                    DataBlob** out);
/* Parameter element from the engine's first score profile (a 30-row
 * model and its threshold table; with the word's bit 4 the second profile
 * must hold a 9-row model and its table). Quadratic rows give their linear
 * part. 0; 2 level above 27, list length above 255 or a null engine; 1 when
 * the profiles do not supply the models and tables (nothing is built); 17
 * a model the table cannot be built from; 9 no memory. */
typedef struct MatchEngine MatchEngine;
ZYL_API int card_params_from_engine(const MatchEngine* engine, uint16_t algorithm_word,
                                    uint16_t part_count, uint16_t part0_size, uint16_t part_size,
                                    int level, uint16_t option_word, int list_length,
                                    DataBlob** out);
/* Built-in table sets 1..5: 2 level above 27 or list length above 255; 1
 * algorithm id below 18; 18 set outside 1..5; 1 for every set, whose data
 * the library does not carry. */
ZYL_API int card_params_from_tables(uint16_t algorithm_word, int table_set, uint16_t part_count,
                                    uint16_t part0_size, uint16_t part_size, int level,
                                    uint16_t option_word, int list_length, DataBlob** out);

/* Five BE u16 values at value bytes 1-2 .. 9-10 of an element C0 of at
 * least 11 bytes; 3 otherwise. */
ZYL_API int card_parse_params(const uint8_t* bytes, uint32_t available, uint16_t out[5]);
/* C0, bare or first child of EF: top bit and mode of byte 0; with byte 0 &
 * 0x7F of 0 and at least 9 value bytes the four header fields (a fifth when
 * C0 is bare and longer than 10 bytes; unset fields 0). 0; 17 too short or
 * not C0. Outputs may be null. */
ZYL_API int card_read_c0_header(const uint8_t* bytes, uint32_t available, int* top_bit,
                                int* mode, uint16_t fields[5]);
/* Part n of a comparison input: `parts` (count k >= 2, sizes given) or one
 * buffer (k < 2). 0 with the part's EF element; 17 when the part cannot be
 * located or is not a reference or parameter element (*out zeroed). */
ZYL_API int card_read_params_header(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                    int n, TlvElement* out);
/* Writes the 13-byte algorithm information element C0 0B ... into out; *out_size = 13.
 * 17 when room is under 13; with parts 1 when part 0's algorithm word
 * differs from card_flags; without parts 1 when card_flags exceeds 16
 * bits; else 0. */
ZYL_API int card_get_algorithm_info(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                    uint8_t* out, uint32_t room, uint32_t* out_size);

/* Probe-form elements of a 7F2E template: the packed form (0xCC + packing
 * form), the quality (byte 5 of C3, 0 when shorter), the origin (both 0
 * unless C5 is 2 bytes) and the grid map (empty when absent). 0; 17 when
 * the bytes are not one 7F2E element. */
ZYL_API int card_find_probe_elements(const uint8_t* bytes, uint32_t length, int packing_form,
                                     TlvElement* packed, uint8_t* quality, int8_t origin[2],
                                     TlvElement* grid_map);
/* Size of the first 7F2E element from `offset` on, stepping over others; 0
 * when there is none. */
ZYL_API uint32_t card_template_extent(const uint8_t* bytes, uint32_t length, uint32_t offset);

/* Format-67 card template to a format-76 probe form. Packing forms 1 and
 * 2 (bits 0-1 of the word) replace the minutiae (A1) and their qualities
 * (82) by the packed local-structure form under A2: CD holds the 64-minutia
 * form (minutiae as stored), CE the 46-minutia form. Form 3 and any other
 * failure answer null. */
ZYL_API DataBlob* card_template_to_probe_form(const DataBlob* template_blob, uint32_t packing_word);
/* 0; 2 not format 67 or a mask with bits outside 1-10; 1 algorithm id not
 * 18; 3 conversion failed; 9 no memory. A mask of 0 or 2046 adds no prefix. */
ZYL_API int card_probe_from_template(uint16_t algorithm_word, const DataBlob* probe,
                                     DataBlob** out, uint16_t mode_mask);
/* 0; 2 not format 80 or mode outside 1..10; 3 template does not parse; 9
 * no memory; 19 more than 64 templates. A null multi-view blob gives EF
 * { C0 01 mode }. */
ZYL_API int card_reference_from_mvt(uint16_t algorithm_word, DataBlob* mvt_blob, int mode,
                                    uint32_t size_limit, DataBlob** out, int* out_count);

/* What card_parse_reference found: the probe moved to the end of its
 * buffer, the room in front of it, and the tables of part 0. */
typedef struct CardProbeSetup {
  uint16_t mode_mask;          /* 2046 without a C0 02 prefix */
  uint16_t algorithm_word;
  uint8_t* probe;              /* the 7F2E element, ending at the buffer's end */
  uint32_t probe_length;
  uint8_t* work;               /* room in front of the probe (after the packing room) */
  uint32_t work_size;
  uint8_t* packing_room;       /* 1428 bytes in packing form 0, else null */
  const uint8_t* table;        /* C4: 30 entries + offset */
  const uint8_t* alt_table;    /* C5 with the alternative set: 9 entries + offset */
  uint16_t thresholds[7];      /* C2 */
  uint16_t alt_thresholds[7];  /* C6 with the alternative set */
  uint16_t option_word;        /* C3 bytes 0-1 */
  uint8_t list_length;         /* C3 byte 2, else 8 with pre-selection, 32 without */
} CardProbeSetup;

enum { CARD_PACKING_ROOM = 1428 };

/* Prepares the probe at `offset` of `buffer` (free room behind it) and
 * reads part 0, setting card_flags to its algorithm word. 0; 1 algorithm
 * id not 18; 2 null arguments; 17 a probe that is not one 7F2E element
 * (after an optional C0 02 mask), too little room, part 0 not found or a
 * required element missing (C4 of 304 bytes, C2 over 14, C3 over 2; C5 of
 * 94 and C6 over 14 with the alternative set). */
ZYL_API int card_parse_reference(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                 uint8_t* buffer, uint32_t buffer_size, uint32_t offset,
                                 CardProbeSetup* out);

/* ---- comparison ---- */

typedef struct MatchResult MatchResult;
typedef struct GrayImage GrayImage;

enum {
  CARD_SCORE_ENTRIES = 30,  /* the score vector of one reference template */
  CARD_GROUPS = 10,         /* group modes 1..10 */
  CARD_VERIFY_ROOM = 3544   /* room behind the probe that card_verify_gallery gives */
};

/* One reference template (a 7F2E probe form) against the probe template,
 * under the current card_flags: the reference's packed form (in packing
 * form 0 packed now into the 1428-byte packing room as a 46-minutia form),
 * the local-structure matcher the flags select (alternative set: 64- or
 * 46-minutia forms with 24 probe neighbours; else the compact matchers),
 * the bounded grid comparison of the two grid maps under the matcher's
 * alignment, and the qualities (limited to 100). Fills the 30 entries of
 * `scores`. 0; 7 nothing to compare (no packed form, no minutiae, no grid
 * map); 17 corrupt elements, a pre-packed element in packing form 0, too
 * little work room or a matcher result of another count; 2 null
 * arguments; a packing or matcher status. */
ZYL_API int card_compare_core(const uint8_t* reference, uint32_t reference_length, uint8_t* work,
                              uint32_t work_size, const uint8_t* probe, uint32_t probe_length,
                              uint16_t option_word, uint8_t* packing_room, uint16_t* scores);

/* First pass: the probe at `offset` of `buffer` against the reference
 * parts of the comparison input, rank by rank (pre-selected by grid-map
 * histograms with card_flags bit 3), stopping at the first template whose
 * folded score exceeds its group's threshold. *decision 1 = matched, with
 * the group mode, the template index and its score; *max_score the largest
 * score seen. Outputs other than the decision may be null; the template
 * index is -1 without a match. 0; 2 null decision; 17 corrupt input, too
 * little room, a group mode outside 1..10 or a class index of 7; 1
 * algorithm id not 18; card_compare_core's failures. */
ZYL_API int card_compare_reference(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                   uint8_t* buffer, uint32_t buffer_size, uint32_t offset,
                                   int* decision, uint32_t* max_score, int* template_index,
                                   int* group_mode, uint32_t* best_score);

/* Second pass: recomputes the score of template `template_index` of the
 * parts of `group_mode` from a fresh copy of the probe; clears *decision
 * when the score does not exceed the group's threshold. 0; 2 null
 * decision or score, or a decision of 0; otherwise as the first pass. */
ZYL_API int card_compare_recheck(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                 uint8_t* buffer, uint32_t buffer_size, uint32_t offset,
                                 int* decision, int template_index, int group_mode,
                                 uint32_t* score);

/* Card verification of a format-67 probe against format-80 gallery
 * templates: builds the parameter element (from the engine's first score
 * profile, else a built-in table set), a reference and a probe form per
 * gallery template and runs both passes, stopping at the first accepted
 * entry. Level 28 compares at level 27 and keeps the best score seen in
 * the result. 0; 1 wrong formats or algorithm id; 2 null arguments; 9 no
 * memory; 17 corrupt data, no parameter element or passes that disagree;
 * 18 no table set selected. */
ZYL_API int card_verify_gallery(MatchEngine* engine, DataBlob* const* gallery, int count,
                                DataBlob* probe, int level, MatchResult* result);
/* The engine's match operation of the card profiles: 1 with an image, 2
 * without a probe, else card_verify_gallery. */
ZYL_API int card_verify_op(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                           DataBlob* probe, GrayImage* image, int level, MatchResult* result);
/* The engine's gallery-score operation of the card profiles: level 28; on
 * success the best raw score repeats the score. 2 without a probe. */
ZYL_API int card_score_op(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                          DataBlob* probe, MatchResult* result);

/* The probe as a new reference template, ready to be appended to the
 * reference part of a group. Offsets are within the buffer that holds the
 * part (parts[part] when k >= 2, else parts[0]). */
typedef struct CardReferenceEntry {
  uint8_t* element;       /* the new EE element */
  uint32_t element_size;
  int part;               /* the reference part of the group */
  uint32_t length_at;     /* the part's EF length bytes (after 0x82) */
  uint32_t length_width;  /* 2 */
  uint8_t* new_length;    /* BE u16: the part's EF length with the element */
  uint32_t content_end;   /* end of the part's content, where the element goes */
} CardReferenceEntry;

/* Prepares the probe (as card_parse_reference does) as a new EE template
 * for the reference part whose group mode (C0 byte 0 & 0x7F) is `mode`.
 * Packing form 0: the probe gets an EE 82 LL LL header in place and the
 * new part length goes to the front of the room. Forms 1 and 2: the
 * probe's minutiae are packed (64 minutiae as stored, or 46; the
 * alternative packing with bit 4) and EE { 7F2E { A2 { CD or CE, copies of
 * the probe's C3, C4, C5 } } } is built at the front of the room, all
 * lengths in the 0x82 form, followed by the new part length; the packed
 * bytes may take at most 2370 (CD) or 1428 (CE) bytes and the buffer size
 * less 971. 0; card_parse_reference's and the packing's statuses; 17 for
 * mode 0, no part of the mode, a part length not in the 0x82 form, a
 * buffer under 971 bytes (forms 1, 2), too little room, or a part too
 * small for its new length + 4. */
ZYL_API int card_probe_to_reference_entry(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                          uint8_t* buffer, uint32_t buffer_size, uint32_t offset,
                                          int mode, CardReferenceEntry* out);

ZYL_EXTERN_C_END
