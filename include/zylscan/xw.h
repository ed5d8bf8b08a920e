/* Context API of the skeleton engine: contexts, numbered parameters, modes.
 *
 * Every setting of the extractor, the template writer and the graph matcher
 * lives in one XWContext. A null context means the library's default
 * context, which exists between the first XWInitialize and the XWFinalize
 * that balances it. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

/* Opaque: read and written through the numbered parameters. */
typedef struct XWContext XWContext;

/* Status codes of the context API. */
#define XW_OK 0
#define XW_ERR_NO_MEMORY (-2)
#define XW_ERR_NO_CONTEXT (-3)
#define XW_ERR_NULL_ARGUMENT (-4)
#define XW_ERR_BAD_VALUE (-5)
#define XW_ERR_UNKNOWN_PARAMETER (-10)
#define XW_ERR_READ_ONLY (-11)
#define XW_ERR_IDENTIFY_IN_PROGRESS (-1000)

/* Answers of the type query (XWGetParameter with id 0). */
#define XW_TYPE_VERSION 5
#define XW_TYPE_INT 6
#define XW_TYPE_FLAG 10
#define XW_TYPE_STRING 100

/* Sizes of a MatchDetails record: the short form ends after shiftY. */
#define XW_DETAILS_SHORT 20
#define XW_DETAILS_LONG 4120
#define XW_DETAILS_MAX_PAIRS 1024

/* Outcome of a verification, filled by the caller's choice of form. */
typedef struct MatchDetails {
  int32_t size;     /* set by the caller: XW_DETAILS_SHORT or XW_DETAILS_LONG */
  int32_t score;    /* 0..1000 */
  int32_t rotation; /* alignment of the sample on the test template */
  int32_t shiftX;
  int32_t shiftY;
  /* long form only: the paired minutiae (test index, sample index) */
  int32_t pairCount;
  uint16_t testIndexes[XW_DETAILS_MAX_PAIRS];
  uint16_t sampleIndexes[XW_DETAILS_MAX_PAIRS];
} MatchDetails;

ZYL_EXTERN_C_BEGIN

/* Creates the default context on the first call; returns the number of
 * outstanding initialisations before this call, or -2. */
ZYL_API int32_t XWInitialize(void);
/* Balances one XWInitialize; the last one frees the default context.
 * Returns the remaining count (a remaining 1 is returned as 0), or -3. */
ZYL_API int32_t XWFinalize(void);

/* A context with the mode-0 preset; null when memory runs out. */
ZYL_API XWContext* XWCreateContext(void);
/* Frees the context and its match data; -4 for null. */
ZYL_API int32_t XWFreeContext(XWContext* context);
ZYL_API XWContext* XWFCreateContext(void);
ZYL_API int32_t XWFFreeContext(XWContext* context);

/* Ids below 10000: 10 name, 11/12 version, 13 notice (strings written to
 * out), 110, 200, 201, 210, 220, 300, 1000 (int written to out). Id 0 is a
 * type query: out then carries the id to ask about, cast to a pointer.
 * Ids from 10000 are the additional parameters. */
ZYL_API int32_t XWGetParameter(int32_t id, void* out, XWContext* context);
ZYL_API int32_t XWGetAdditionalParameter(int32_t id, int32_t* out, XWContext* context);
/* 10 for a flag, 6 for an int, -5 for an unknown id. */
ZYL_API int32_t XWGetAdditionalParameterType(int32_t id);
ZYL_API int32_t XWSetParameter(int32_t id, int32_t value, XWContext* context);
ZYL_API int32_t XWSetAdditionalParameter(int32_t id, int32_t value, XWContext* context);

/* 0: block directions and curvature written; 1: curvature only; 2: neither. */
ZYL_API int32_t SetExtractFeatures(int32_t choice, XWContext* context);
/* 0: block grid and curvature compared; 1: curvature only; 2: neither. */
ZYL_API int32_t SetMatchFeatures(int32_t choice, XWContext* context);
/* 0 (thorough) or 256 (fast): line budgets and score normalisation. */
ZYL_API int32_t SetMatchingSpeed(int32_t speed, XWContext* context);
/* Applies the preset of a mode (0, 100, ..., 1200); -5 for an unknown one. */
ZYL_API int32_t SetMode(int32_t mode, XWContext* context);
/* Selects the score scale and offset for the mode, speed and match features. */
ZYL_API int32_t SetThresholdNormalization(XWContext* context);
/* Stores a library-wide value that nothing reads; returns 0. */
ZYL_API int32_t SetExtractFeaturesMode(int32_t value);

ZYL_EXTERN_C_END
