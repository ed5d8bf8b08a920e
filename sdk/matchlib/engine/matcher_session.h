// The functions of matcher session that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_session.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int session_add_image(MatcherSession* s, MatchContext* context, GrayImage* image);
int session_add_impression(MatcherSession* s, GrayImage* image, SessionImageStatistics* statistics,
                           SessionImageMatch* match);
int session_enrol_images(MatcherSession* s, GrayImage* const* images, int n, int* enrolled,
                         void* sample_data);
int session_event_count(const MatcherSession* s);
const SessionEvent* session_event_at(const MatcherSession* s, int i);
int session_log_event(MatcherSession* s, int type, int32_t code, const uint8_t* payload,
                      int length);
int template_reduce_keypoints(const DataBlob* tmpl, DataBlob** out_extensions,
                              DataBlob** out_reduced);
int session_strip_views(DataBlob* multi_view, DataBlob** out);

}  // namespace zyl::matchlib
