// The functions of kwzd container that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_kwzd.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

KwzdContainer* kwzd_create(void);
void kwzd_free(KwzdContainer* container);
int kwzd_record_count(const KwzdContainer* container);
int kwzd_add_record(KwzdContainer* container, int32_t key, DataBlob* blob);
int kwzd_append(KwzdContainer* container, DataBlob* blob, int32_t* key);
int kwzd_remove(KwzdContainer* container, int32_t key);
int kwzd_remove_reuse(KwzdContainer* container, int32_t key);
int kwzd_drop_newest(KwzdContainer* container, int count);
DataBlob* kwzd_find(const KwzdContainer* container, int32_t key);
DataBlob* kwzd_get_at(const KwzdContainer* container, int index, int32_t* key);
int kwzd_replace(KwzdContainer* container, int32_t key, DataBlob* blob);
int kwzd_add_section(KwzdContainer* container, int32_t key, int type, const uint8_t* data,
                     uint16_t length);
int kwzd_remove_section(KwzdContainer* container, int32_t key, int type);
const uint8_t* kwzd_get_section(const KwzdContainer* container, int32_t key, int type,
                                uint16_t* length);
uint32_t kwzd_serialized_size(const KwzdContainer* container);
int kwzd_parse(DataBlob* blob, KwzdContainer** out);
int kwzd_serialize_with(KwzdContainer* container, DataBlob** out, const KwzdWriter* writer,
                        void* writer_context);
int kwzd_serialize(KwzdContainer* container, DataBlob** out);

}  // namespace zyl::matchlib
