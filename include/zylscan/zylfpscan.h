/* Device API of libzylscan: finding, opening and driving the USB scanners.
 *
 * Call order: ZYLFPSCAN_GetDeviceCount (optional), ZYLFPSCAN_GlobalInit,
 * ZYLFPSCAN_OpenDevice, work on the handle, ZYLFPSCAN_CloseDevice (which also
 * ends the initialised state), ZYLFPSCAN_GlobalFree. The library holds no
 * locks: callers serialise every call.
 *
 * Every call returns an int status (zylscan/zylfpscan_status.h): 0 for
 * success, negative codes for failures, 10 for a missing output buffer.
 * Arguments are checked in this order: SDK initialised (-905), handle (-103),
 * output buffers (10), ranges (-900). */
#pragma once

#include "zylscan/zyl_export.h"
#include "zylscan/zylfpscan_status.h"

/* Size of the device description that ZYLFPSCAN_GetDeviceDescription fills. */
#define ZYLFPSCAN_DESCRIPTION_SIZE 1024
/* Offset and size of the zero-terminated device name in the description. */
#define ZYLFPSCAN_DESCRIPTION_NAME_OFFSET 16
#define ZYLFPSCAN_DESCRIPTION_NAME_SIZE 30
/* Most devices open at once (device indexes 0..31). */
#define ZYLFPSCAN_MAX_DEVICES 32

ZYL_EXTERN_C_BEGIN

/* Starts libusb on its default context: -904 when already initialised
 * (callers treat that as success), -105 when libusb fails. */
ZYL_API int ZYLFPSCAN_GlobalInit(void);
/* Does nothing; returns 0. */
ZYL_API int ZYLFPSCAN_GlobalFree(void);
/* Counts the supported scanners; works without ZYLFPSCAN_GlobalInit. 0 with
 * *count set when the USB device list holds any device (even if none is a
 * scanner); -107 and *count = 0 when the list is empty or unavailable; 10 for
 * a null count. */
ZYL_API int ZYLFPSCAN_GetDeviceCount(int* count);
/* Opens the index-th supported scanner into *handle, which must be null:
 * -905, 10 (null handle pointer), -106 (handle already set, or the index
 * already open), -900 (index out of range), -109 (USB open failed), -200
 * (algorithm context), -108 (description), -114 (rectification block). */
ZYL_API int ZYLFPSCAN_OpenDevice(void** handle, int index);
/* Closes the scanner, frees the record, sets *handle to null and ends the
 * initialised state: -905, -103 for a null handle. */
ZYL_API int ZYLFPSCAN_CloseDevice(void** handle);

/* Firmware version byte (one-byte form). No SDK check; -103 for a null
 * handle, 10 for a null output, else the transport codes (-302, -303, -304)
 * or a mapped reply status (-400..-404, -110). */
ZYL_API int ZYLFPSCAN_GetFwVersion(void* handle, int* version);
/* Firmware minor version (byte 8 of the 0x60 reply); as above. */
ZYL_API int ZYLFPSCAN_GetFwMinorVersion(void* handle, int* minor);
/* MCU type; as above. */
ZYL_API int ZYLFPSCAN_GetMcuType(void* handle, int* mcu);
/* Sets the firmware-update flag: -905, -103, -115 for any failure. */
ZYL_API int ZYLFPSCAN_SetQZ650UpdateFlag(void* handle);
/* LED 0 or 1 off (0) or on (1): -905, -103, -111 (no LEDs), -900, -115. */
ZYL_API int ZYLFPSCAN_SetLedStatus(void* handle, int led, int state);
/* Reads LED 0 or 1: -905, -103, -111, -900, 10 (null output), -116. */
ZYL_API int ZYLFPSCAN_GetLedStatus(void* handle, int led, int* state);
/* Search on the scanner's module: -905, -103, 10, transport codes, -117 for
 * a reply that fails its check, the reply's non-zero status unchanged
 * (positive), else 0 with *result and *position set. */
ZYL_API int ZYLFPSCAN_SearchFromModule(void* handle, unsigned char* result, int* position);
/* Reads the index-th scanner's 1024-byte description into out: -905, 10
 * (null out), -900 (index out of range), -109, transport codes; also the
 * positive values 2 and 3 and a raw reply status of the key exchange. Some
 * products have no description and leave out untouched. */
ZYL_API int ZYLFPSCAN_GetDeviceDescription(int index, unsigned char* out);

/* Captures one raw image (width x height 8-bit pixels, row after row) into
 * image, which holds at least that many bytes, and keeps it as the device's
 * last image. t is a time-out in seconds for the products that take one.
 * -905, -103, 10; -104 (large sensors, also for an unusable calibration),
 * -1000, -309 and -310 (general family), transport codes (packet and camera
 * families). The last image is kept when a capture fails. */
ZYL_API int ZYLFPSCAN_CaptureRawData(void* handle, int t, unsigned char* image);

ZYL_EXTERN_C_END

#ifdef __cplusplus
/* Three firmware version bytes (typed linkage; the int form above is the
 * plain C one): -905, -103, 10, transport codes, mapped reply status. */
ZYL_API int ZYLFPSCAN_GetFwVersion(void* handle, unsigned char* version);
#endif
