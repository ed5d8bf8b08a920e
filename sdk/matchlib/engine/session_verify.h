// The functions of session verify that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_session.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int session_verify(MatcherSession* session, DataBlob* const* gallery, int n, GrayImage* probe,
                   int level, const uint8_t* decision, MatchResult** out);

}  // namespace zyl::matchlib
