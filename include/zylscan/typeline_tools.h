/* Tools on type-line templates (zylscan/typeline_template.h) that do not
 * match them. */
#pragma once

#include <stdint.h>

#include "zylscan/typeline_template.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Decodes a 750-byte template and copies its minutiae list (402 bytes:
 * count, mean quality, 50 entries of 8 bytes; a TypelineMinutiaList) into
 * out. No validity test. */
ZYL_API void ExtractTerrakMinutias(const uint8_t* templ, void* out);
/* Decodes a template, stores its minutia count through count (when not
 * null) and answers it; -1 for a null template. */
ZYL_API int GetTerrakTempNumMinutiaes(const uint8_t* templ, int* count);
/* Merges template a (upper part) and b (lower part, its points moved down
 * by yShift) into out (room for 750 bytes). Answers 1; -21 when memory runs
 * out; -1 for a null argument. */
ZYL_API int MergeTerrakTemplate(const uint8_t* a, const uint8_t* b, int yShift, uint8_t* out);

ZYL_EXTERN_C_END
