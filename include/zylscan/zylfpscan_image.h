/* Image calls of the device API: image size and quality, raw/bitmap
 * conversions, bitmap and finger image record captures, live capture.
 *
 * Bitmaps are 8-bit grey BMP files: a 1078-byte header (file and info
 * headers, 256-entry grey palette), then the rows bottom first, unpadded.
 * Finger image records (format identifier "FIR", version "010") hold a
 * 46-byte header (ISO/IEC 19794-4) or a 50-byte header (ANSI/INCITS 381),
 * then the image uncompressed, top row first.
 *
 * Arguments are checked in this order: SDK initialised (-905), handle
 * (-103), output buffers (10), ranges (-900); the calls that differ say so.
 * Image sizes are 1..4096 pixels a side. */
#pragma once

#include "zylscan/zyl_export.h"
#include "zylscan/zylfpscan_status.h"

#define ZYLFPSCAN_BITMAP_HEADER_SIZE 1078
#define ZYLFPSCAN_BITMAP_SIZE(width, height) (ZYLFPSCAN_BITMAP_HEADER_SIZE + (width) * (height))
#define ZYLFPSCAN_ISO_IMAGE_RECORD_HEADER 46
#define ZYLFPSCAN_ANSI_IMAGE_RECORD_HEADER 50

ZYL_EXTERN_C_BEGIN

/* The open device's image width, height and resolution (500 dpi):
 * -905 SDK not initialised, -103 null handle, 10 for any null output. */
ZYL_API int ZYLFPSCAN_GetImageInfo(void* handle, int* width, int* height, int* resolution);

/* Capture quality 0..100 of a width x height image into *quality. Needs no
 * SDK or handle. 10 for a null image or output, -900 for a bad size. */
ZYL_API int ZYLFPSCAN_ImgQuality(int width, int height, const unsigned char* image, int* quality);

/* Raw image (top row first) to bitmap; bitmap holds
 * ZYLFPSCAN_BITMAP_SIZE(width, height) bytes. -905, 10, -900. */
ZYL_API int ZYLFPSCAN_RawToBitmap(const unsigned char* raw, unsigned char* bitmap, int width, int height);
/* Bitmap pixels (from offset 1078, bottom row first) back to a raw image of
 * the given size. -905, 10, -900 (first byte neither 'B' nor 'M', or a bad
 * size). */
ZYL_API int ZYLFPSCAN_BitmapToRaw(const unsigned char* bitmap, unsigned char* raw, int width, int height);

/* Captures an image with a time-out of t > 0 seconds into a bitmap and
 * keeps it as the last image: -905, -103, 10, -900 (t <= 0), -104 (capture
 * failed), -118 (no memory), the packet protocol's codes on 0x1200. */
ZYL_API int ZYLFPSCAN_CaptureBitmapData(void* handle, int t, unsigned char* bitmap);

/* Captures an image with a time-out of t > 0 seconds into a finger image
 * record (ISO: 46 + width x height bytes; ANSI: 50 + width x height bytes)
 * and stores the record's length: -905, -103, 10, -900 (t <= 0), -104,
 * -118, -110 (image quality below 20). The finger position and compression
 * code are stored as given (low 8 bits); the image is never compressed.
 * ANSI records come only from the large sensors and product 0x1023; other
 * scanners answer -100 without any transfer. */
ZYL_API int ZYLFPSCAN_CaptureISOData(void* handle, int t, int fingerPosition, int compression, unsigned char* record,
                                     int* length);
ZYL_API int ZYLFPSCAN_CaptureANSIData(void* handle, int t, int fingerPosition, int compression, unsigned char* record,
                                      int* length);

/* Live capture: images without a quality gate while it is on.
 * Begin: -905, -103, -112 when already on. End: -905, -103, -113 when it
 * was off (it is off afterwards in every case). */
ZYL_API int ZYLFPSCAN_BeginLiveCapture(void* handle);
ZYL_API int ZYLFPSCAN_EndLiveCapture(void* handle);
/* One live image (width x height bytes, or a bitmap) that also becomes the
 * last image: -905, -103, 10, -113 (live capture off), -104. */
ZYL_API int ZYLFPSCAN_LiveCaptureRawData(void* handle, unsigned char* image);
ZYL_API int ZYLFPSCAN_LiveCaptureBitmap(void* handle, unsigned char* bitmap);

ZYL_EXTERN_C_END

#ifdef __cplusplus
/* The two-argument bitmap capture (typed linkage; the time-out form above is
 * the plain C one): a raw capture without time-out, refused below quality
 * 50. -905, -103, -117 (null bitmap), 1 (capture failed), -211 (quality too
 * low; the bitmap and the last image are left untouched). */
ZYL_API int ZYLFPSCAN_CaptureBitmapData(void* handle, unsigned char* bitmap);
#endif
