// The functions of quenta wrappers that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/zylquenta.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int ZylQuenta_Init(MatchEngine** out);
int ZylQuenta_Extract(MatchEngine* engine, const uint8_t* pixels, int width, int height, uint8_t* out, int* out_length,
                      int);
int ZylQuenta_Verify(MatchEngine* engine, const uint8_t* template_a, int, const uint8_t* template_b, int);
int ZylQuenta_Free(MatchEngine* engine);
int template_ttobuffer(const DataBlob* blob, const void*, uint8_t* out);

}  // namespace zyl::api
