/* Matcher library support layer: Shell sort and int sorts, index lists from
 * counts, wall-clock timestamps, the operation-table holder and a few
 * fixed-answer routines. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* ---- sorting ---- */
typedef int (*RecordCompare)(const void* a, const void* b);
/* Sorts n records of record_size bytes in place; a record moves behind
 * another while compare answers above 0. Not stable. */
ZYL_API void shell_sort(void* base, int n, int record_size, RecordCompare compare);
ZYL_API int compare_i32_asc(const void* a, const void* b);
ZYL_API int compare_i32_desc(const void* a, const void* b);
/* 2 for a null array, else 0. */
ZYL_API int sort_i32(int32_t* values, int n, int ascending);
/* Lists every index i count[i] times, from the last index down, in a new
 * malloc'd array of 64-bit entries (*out_list, freed by the caller) and
 * stores their number in *out_total. 2 for a null argument, 4 for n <= 0 or
 * no entries, 9 when memory runs out. */
ZYL_API int index_list_from_counts(const int32_t* counts, int n, int64_t** out_list,
                                   int* out_total);

/* ---- timestamps ---- */
typedef struct Timestamp {
  int64_t seconds;
  int64_t microseconds;
} Timestamp;

ZYL_API void time_now(Timestamp* out);
ZYL_API void time_zero(Timestamp* out);
ZYL_API int time_diff_ms(const Timestamp* later, const Timestamp* earlier);
ZYL_API int64_t time_diff_s(const Timestamp* later, const Timestamp* earlier);
ZYL_API int time_later(const Timestamp* t1, const Timestamp* t0);
ZYL_API int time_elapsed_ms(const Timestamp* start);
ZYL_API int64_t time_elapsed_s(const Timestamp* start);
ZYL_API int time_elapsed_exceeds(const Timestamp* start, int limit_ms);

/* ---- operation-table holder ---- */
typedef struct CallbackObject CallbackObject;
typedef int (*CallbackOp0)(CallbackObject*, void*, void*, void*, uint16_t);
typedef int (*CallbackOp1)(CallbackObject*, void*, uint16_t);
typedef int (*CallbackOp2)(CallbackObject*, void*);
typedef int (*CallbackOp3)(CallbackObject*, uint32_t*, uint32_t*, uint32_t*);
typedef int (*CallbackOp4)(CallbackObject*, void*, void*, int, uint64_t*, uint16_t*, uint64_t*,
                           uint64_t*);
typedef int (*CallbackOp5)(CallbackObject*, void*);
typedef int (*CallbackOp6)(CallbackObject*, void*);
typedef struct CallbackOps {
  CallbackOp0 op0;
  CallbackOp1 op1;
  CallbackOp2 op2;
  CallbackOp3 op3;
  CallbackOp4 op4;
  CallbackOp5 op5;
  CallbackOp6 op6;
} CallbackOps;
typedef void (*CallbackUserDestroy)(void* user);

ZYL_API CallbackObject* cbobj_create(void* handle, uint8_t kind, const CallbackOps* ops,
                                     void* user, CallbackUserDestroy user_destroy);
ZYL_API CallbackObject* cbobj_retain(CallbackObject* obj);
ZYL_API void cbobj_release(CallbackObject* obj);
ZYL_API void cbobj_release_alt(CallbackObject* obj);
ZYL_API void cbobj_free(CallbackObject* obj);
ZYL_API void* cbobj_handle(const CallbackObject* obj);
ZYL_API void* cbobj_user_data(const CallbackObject* obj);
ZYL_API int cbobj_kind(const CallbackObject* obj);
/* Each calls its slot with the object first; 2 for a null object, 18 for
 * an empty slot. */
ZYL_API int cbobj_op0(CallbackObject* obj, void* a, void* b, void* c, int value);
ZYL_API int cbobj_op1(CallbackObject* obj, void* a, int value);
ZYL_API int cbobj_op2(CallbackObject* obj, void* a);
ZYL_API int cbobj_op3(CallbackObject* obj, uint32_t* out1, uint32_t* out2, uint32_t* out3);
ZYL_API int cbobj_op4(CallbackObject* obj, void* a, void* b, int count, uint64_t* out1,
                      uint16_t* out2, uint64_t* out3, uint64_t* out4);
ZYL_API int cbobj_op5(CallbackObject* obj, void* a);
ZYL_API int cbobj_op6(CallbackObject* obj, void* a);

/* ---- fixed-answer routines ---- */
ZYL_API void* stub1_create(void);
ZYL_API void* stub2_create(void);
ZYL_API void* stub3_create(void);
ZYL_API void stub1_free(void* block);
ZYL_API void stub2_free(void* block);
ZYL_API void stub3_free(void* block);
ZYL_API int stub1_run(void* unused, int (*routine)(void*), void* user);
ZYL_API void stub1_noop(void);
ZYL_API int stub1_one(void);
ZYL_API int stub_one(void);
ZYL_API int stub2_op(void);
ZYL_API int stub3_op(void);
ZYL_API int stub_open_handle(const void* a, const void* b, const void* c, const void* d,
                             const void* e, uint64_t* out);
ZYL_API int stub_alloc_handle(const void* a, const void* b, const void* unused, const void* d,
                              void** out_block, uint32_t* out_size, uint64_t* out_marker);

ZYL_EXTERN_C_END
