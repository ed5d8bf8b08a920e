// The card comparison's shared pieces: the thread's card flags word,
// big-endian field access and the location of the parts of an input.
#pragma once

#include <cstdint>
#include "zylscan/matchlib_card_compare.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

uint8_t card_class_byte(uint32_t n);
int card_group_threshold(uint8_t class_byte, const uint16_t* thresholds, uint32_t* out_threshold);
int card_score_table_build(const ScoreLinearRow* rows, int n, uint8_t* out);
int card_score_weighted_sum(const uint8_t* table, int n, const uint16_t* scores,
                            uint32_t* out_score);
int card_params_from_models(uint16_t algorithm_word, const ScoreLinearRow* rows30,
                            const FarThresholdTable* thresholds, const ScoreLinearRow* rows9,
                            const FarThresholdTable* alt_thresholds, uint16_t table_tag,
                            uint16_t part_count, uint16_t part0_size, uint16_t part_size, int level,
                            uint16_t option_word, int list_length, DataBlob** out);
int card_params_from_engine(const MatchEngine* engine, uint16_t algorithm_word, uint16_t part_count,
                            uint16_t part0_size, uint16_t part_size, int level,
                            uint16_t option_word, int list_length, DataBlob** out);
int card_params_from_tables(uint16_t algorithm_word, int table_set, uint16_t, uint16_t, uint16_t,
                            int level, uint16_t, int list_length, DataBlob** out);
int card_parse_params(const uint8_t* bytes, uint32_t available, uint16_t out[5]);
int card_read_params_header(const uint8_t* const* parts, const uint32_t* sizes, int k, int n,
                            TlvElement* out);
int card_get_algorithm_info(const uint8_t* const* parts, const uint32_t* sizes, int k, uint8_t* out,
                            uint32_t room, uint32_t* out_size);
int card_parse_reference(const uint8_t* const* parts, const uint32_t* sizes, int k, uint8_t* buffer,
                         uint32_t buffer_size, uint32_t offset, CardProbeSetup* out);

}  // namespace zyl::matchlib

namespace zyl::matchlib::card {

uint32_t flags();
void set_flags(uint32_t word);

uint16_t be16(const uint8_t* p);
int32_t be32(const uint8_t* p);
void put16(uint8_t* p, uint32_t v);
void put32(uint8_t* p, uint32_t v);

// Start and size of part n of a comparison input (the list of k part
// buffers, or one buffer when k < 2), bounded by its buffer: 0, or 17 when
// part 0's header is not readable or the part lies outside the input.
int locate_part(const uint8_t* const* parts, const uint32_t* sizes, int k, int n, const uint8_t** start,
                uint32_t* size);

}  // namespace zyl::matchlib::card
