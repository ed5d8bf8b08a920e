// The device calls the finger database's enrolment and identification run
// on in the product.
#pragma once

#include "device/finger_database.h"

namespace zyl::device {

// The exported device calls and the steady clock: what the exported
// enrolment and identification use.
const DeviceCalls& ProductDeviceCalls();

}  // namespace zyl::device
