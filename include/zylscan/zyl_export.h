// Export and linkage macros of libzylscan's public headers.
#pragma once

#if defined(ZYL_BUILDING_LIBRARY)
#define ZYL_API __attribute__((visibility("default")))
#else
#define ZYL_API
#endif

#ifdef __cplusplus
#define ZYL_EXTERN_C_BEGIN extern "C" {
#define ZYL_EXTERN_C_END }
#else
#define ZYL_EXTERN_C_BEGIN
#define ZYL_EXTERN_C_END
#endif
