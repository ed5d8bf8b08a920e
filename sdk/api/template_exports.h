// The functions of template exports that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "api/nuvel_codec.h"
#include "zylscan/idcard_feature.h"
#include "zylscan/minutiae_record.h"
#include "zylscan/nuvel.h"
#include "zylscan/template_format.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t IDcardfea2Nuvelfea(const uint8_t* card, uint8_t* out);
int32_t DecompressFeatures(const uint8_t* tmpl, FeatureRecord* record);
int32_t CompressFeatures_ISO(const FeatureRecord* record, uint8_t* out, XWContext*, uint8_t fingerPosition,
                             int32_t width, int32_t height);
int32_t CompressFeatures_ANSI(const FeatureRecord* record, uint8_t* out, XWContext*, uint8_t fingerPosition,
                              int32_t width, int32_t height);
int32_t CompressFeatures(const FeatureRecord* record, uint8_t* out, XWContext* context);
int32_t ZYL_getFormatType(const uint8_t* buffer, int32_t length);
int32_t ZylISOToNuvel(const uint8_t* record, uint8_t* out, int32_t* outLength);
int32_t ZylANSIToNuvel(const uint8_t* record, uint8_t* out, int32_t* outLength);
int32_t DecompressFeaturesIdcardtoNuvel(const uint8_t* card, FeatureRecord* record, uint8_t* secondaryCode);

}  // namespace zyl::api

namespace zyl::api {

// The native template writer's settings of a context (a new context's
// settings when there is none).
NuvelWriterSettings writer_settings(XWContext* context);

}  // namespace zyl::api
