/* Matcher library finger information: the reference-counted record that
 * travels with images and samples (finger position 0..10, one attribute
 * value, a second int), and the attribute value itself. Records without a
 * destroy routine (the process-wide defaults) are never counted or freed. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct FingerInfo FingerInfo;
typedef struct AttributeValue AttributeValue;

ZYL_API FingerInfo* finger_info_create(int32_t position, AttributeValue* attribute);
ZYL_API FingerInfo* finger_info_create_full(int32_t position, AttributeValue* attribute,
                                            int32_t second_value);
ZYL_API FingerInfo* finger_info_retain(FingerInfo* info);
ZYL_API void finger_info_release(FingerInfo* info);
ZYL_API FingerInfo* finger_info_copy(const FingerInfo* info);
ZYL_API int finger_info_equal(const FingerInfo* a, const FingerInfo* b);
ZYL_API int32_t finger_info_position(const FingerInfo* info);
ZYL_API int32_t finger_info_second_value(const FingerInfo* info);
ZYL_API AttributeValue* finger_info_attribute(const FingerInfo* info);
ZYL_API uint32_t finger_info_attribute_id(const FingerInfo* info);
ZYL_API uint64_t finger_info_key(const FingerInfo* info);
/* The shared default record (position 0, no attribute value, second 0). */
ZYL_API FingerInfo* finger_info_default(void);
/* Size-or-write: 19 bytes with an attribute value, 12 without, 1 for null. */
ZYL_API uint32_t finger_info_write(uint8_t* out, const FingerInfo* info);
/* Answers the bytes consumed; 0 with *out = null on memory failure. The
 * caller guarantees the record's bytes are present; readers of untrusted
 * bytes use finger_info_read_bounded. */
ZYL_API uint32_t finger_info_read(const uint8_t* in, FingerInfo** out);
/* As finger_info_read within `available` bytes; 0 with *out = null when the
 * record does not fit in them. */
ZYL_API uint32_t finger_info_read_bounded(const uint8_t* in, uint32_t available, FingerInfo** out);

ZYL_API AttributeValue* attribute_create(uint32_t id);
ZYL_API AttributeValue* attribute_create_full(uint32_t id, uint16_t value, int32_t flag);
ZYL_API AttributeValue* attribute_retain(AttributeValue* a);
ZYL_API void attribute_release(AttributeValue* a);
ZYL_API AttributeValue* attribute_copy(const AttributeValue* a);
ZYL_API int attribute_equal(const AttributeValue* a, const AttributeValue* b);
ZYL_API uint32_t attribute_id(const AttributeValue* a);
ZYL_API uint16_t attribute_value(const AttributeValue* a);
ZYL_API int32_t attribute_flag(const AttributeValue* a);
/* The shared default value (id 0, value 0, flag 0). */
ZYL_API AttributeValue* attribute_default(void);
ZYL_API uint32_t attribute_write(uint8_t* out, const AttributeValue* a);
ZYL_API uint32_t attribute_read(const uint8_t* in, AttributeValue** out);

ZYL_EXTERN_C_END
