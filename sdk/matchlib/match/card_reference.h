// The functions of card reference that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_card_compare.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int card_find_probe_elements(const uint8_t* bytes, uint32_t length, int packing_form,
                             TlvElement* packed, uint8_t* quality, int8_t origin[2],
                             TlvElement* grid_map);
int card_probe_from_template(uint16_t algorithm_word, const DataBlob* probe, DataBlob** out,
                             uint16_t mode_mask);
int card_reference_from_mvt(uint16_t algorithm_word, DataBlob* mvt_blob, int mode,
                            uint32_t size_limit, DataBlob** out, int* out_count);
int card_probe_to_reference_entry(const uint8_t* const* parts, const uint32_t* sizes, int k,
                                  uint8_t* buffer, uint32_t buffer_size, uint32_t offset, int mode,
                                  CardReferenceEntry* out);

}  // namespace zyl::matchlib
