// Opening a scanner together with its algorithm context.
#pragma once

#include "device/device_record.h"

namespace zyl::device {

// Opens the index-th scanner and sets up its algorithm context: on
// ZYLFPSCAN_OK the new record in opened (the caller's to close), else the
// codes of ZYLFPSCAN_OpenDevice after its argument checks.
int OpenDevice(int index, DeviceRecord*& opened);

}  // namespace zyl::device
