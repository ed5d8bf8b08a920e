// The functions of minutiae record that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

MinutiaeRecord* minrec_create(void);
void minrec_free(MinutiaeRecord* record);
int fmr_build_iso2005(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);
int fmr_build_ansi2004(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);
int fmr_build_ansi2009(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);
int fmr_build_iso2011(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);
int fmr_write_iso2011(const MinutiaeRecord* record, uint8_t** out, uint32_t* out_size);
int fmr_parse_iso2005(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
int fmr_parse_iso2011(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
int fmr_parse_iso(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
int fmr_parse_ansi2004(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
int fmr_parse_ansi2009(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
int fmr_parse_ansi(const uint8_t* bytes, uint32_t size, MinutiaeRecord* record);
int fmr_to_iso2005(const uint8_t* bytes, uint32_t size, int max_minutiae, uint8_t** out,
                   uint32_t* out_size);
uint32_t fmr_get_length(const uint8_t* bytes, uint32_t size);

}  // namespace zyl::matchlib
