/* Status codes of the ZYLFPSCAN_* device API and their texts.
 *
 * Every device API call returns a plain int: 0 for success, a negative code
 * for most failures, and a few positive values that some calls return
 * unchanged. Negative libusb error codes (-1 .. -99) are passed up unchanged
 * by the calls that say so. ZYLFPSCAN_GetErrorInfo turns a code into an
 * English text for logs and user messages. */
#pragma once

#include "zylscan/zyl_export.h"

/* Size of the caller's buffer for ZYLFPSCAN_GetErrorInfo. */
#define ZYLFPSCAN_ERROR_TEXT_SIZE 256

typedef enum ZylFpScanStatus {
  ZYLFPSCAN_OK = 0,

  /* Positive results. 1 means "no match" for ZYLFPSCAN_VerifyExt and
   * "capture failed" for the two-argument ZYLFPSCAN_CaptureBitmapData. */
  ZYLFPSCAN_NO_MATCH = 1,
  ZYLFPSCAN_BITMAP_CAPTURE_FAILED = 1,
  ZYLFPSCAN_ERR_NULL_BUFFER = 10, /* a required buffer or output pointer is null */

  /* On-host finger database. */
  ZYLFPSCAN_ERR_DB_OPEN = -1, /* the database file cannot be opened */

  /* Device, USB and capture. */
  ZYLFPSCAN_ERR_NO_DEVICE = -100,       /* the capture call does not serve this product */
  ZYLFPSCAN_ERR_NOT_OPEN = -103,        /* null handle, or no algorithm context */
  ZYLFPSCAN_ERR_CAPTURE = -104,         /* the capture exchange failed */
  ZYLFPSCAN_ERR_DEVICE_INIT = -105,     /* the USB library failed to start */
  ZYLFPSCAN_ERR_ALREADY_OPEN = -106,    /* handle already set, or index already open */
  ZYLFPSCAN_ERR_DEVICE_LIST = -107,     /* USB device list empty or unavailable */
  ZYLFPSCAN_ERR_DEVICE_INFO = -108,     /* reading the device description failed */
  ZYLFPSCAN_ERR_OPEN_DEVICE = -109,     /* opening the USB device failed */
  ZYLFPSCAN_ERR_QUALITY_TIMEOUT = -110, /* the image quality stayed too low */
  ZYLFPSCAN_ERR_UNKNOWN_REPLY = -110,   /* a reply carried an unknown status */
  ZYLFPSCAN_ERR_NO_LED = -111,          /* the scanner has no LEDs */
  ZYLFPSCAN_ERR_LIVE_STARTED = -112,    /* live capture already begun */
  ZYLFPSCAN_ERR_LIVE_NOT_STARTED = -113, /* live capture not begun */
  ZYLFPSCAN_ERR_HARDWARE_INFO = -114,   /* reading the rectification parameters failed */
  ZYLFPSCAN_ERR_SET_LED = -115,         /* setting an LED or the update flag failed */
  ZYLFPSCAN_ERR_GET_LED = -116,         /* reading an LED failed */
  ZYLFPSCAN_ERR_SEARCH_REPLY = -117,    /* the search reply failed its check */
  ZYLFPSCAN_ERR_BITMAP_BUFFER = -117,   /* null output of the two-argument bitmap capture */
  ZYLFPSCAN_ERR_NO_MEMORY = -118,       /* memory could not be had */

  /* Algorithm. */
  ZYLFPSCAN_ERR_ALG_INIT = -200,        /* the algorithm context could not be made */
  ZYLFPSCAN_ERR_LOW_QUALITY = -211,     /* the image quality is below the threshold */
  ZYLFPSCAN_ERR_ALG_NOT_READY = -220,   /* the algorithm is not ready */
  ZYLFPSCAN_ERR_EXTRACT = -221,         /* extraction failed or found too few minutiae */
  ZYLFPSCAN_ERR_TEMPLATE = -222,        /* getting template data failed */

  /* On-host finger database. */
  ZYLFPSCAN_ERR_DB_SHORT = -231,        /* the file is shorter than its fixed size */
  ZYLFPSCAN_ERR_DB_EMPTY = -232,        /* the file is empty */
  ZYLFPSCAN_ERR_DB_WRITE = -233,        /* the file could not be written whole */
  ZYLFPSCAN_ERR_DB_FULL = -234,         /* no free record */
  ZYLFPSCAN_ERR_DB_NO_MATCH = -235,     /* no enrolled finger matched */
  ZYLFPSCAN_ERR_DB_TOO_SIMILAR = -236,  /* a sample is too similar to an earlier one */
  ZYLFPSCAN_ERR_DB_ENROLLED = -238,     /* the finger is already enrolled */

  ZYLFPSCAN_ERR_RAW_TO_BMP = -240,      /* converting a raw image to a bitmap failed */

  /* USB command transport. */
  ZYLFPSCAN_ERR_PING = -302,            /* the ping control request failed */
  ZYLFPSCAN_ERR_WRITE = -303,           /* a command write failed */
  ZYLFPSCAN_ERR_READ = -304,            /* a reply or image read failed or was empty */
  ZYLFPSCAN_ERR_CAPTURE_COMMAND = -309, /* the capture command failed */
  ZYLFPSCAN_ERR_UPLOAD = -310,          /* the image upload failed */

  /* The scanner answered with status 1 .. 5: -400 .. -404 (see
   * ZYLFPSCAN_SCANNER_STATUS). */
  ZYLFPSCAN_ERR_SCANNER_STATUS_1 = -400,
  ZYLFPSCAN_ERR_SCANNER_STATUS_2 = -401,
  ZYLFPSCAN_ERR_SCANNER_STATUS_3 = -402,
  ZYLFPSCAN_ERR_SCANNER_STATUS_4 = -403,
  ZYLFPSCAN_ERR_SCANNER_STATUS_5 = -404,

  /* Arguments and SDK state. */
  ZYLFPSCAN_ERR_PARAM = -900,           /* an argument is out of range */
  ZYLFPSCAN_ERR_ALREADY_INIT = -904,    /* the SDK is already initialised */
  ZYLFPSCAN_ERR_NOT_INIT = -905,        /* the SDK is not initialised */

  ZYLFPSCAN_ERR_PING_BEFORE_CAPTURE = -1000 /* the ping before a capture command failed */
} ZylFpScanStatus;

/* The code for a scanner reply status s in 1 .. 5. */
#define ZYLFPSCAN_SCANNER_STATUS(s) (-399 - (s))

ZYL_EXTERN_C_BEGIN

/* Zero-fills ZYLFPSCAN_ERROR_TEXT_SIZE (256) bytes of text and writes the
 * code's text there with its terminating zero ("Illegal Error." for a code
 * without a text of its own); returns 0. Needs no SDK initialisation. A null
 * text answers ZYLFPSCAN_ERR_NULL_BUFFER (10) and writes nothing. */
ZYL_API int ZYLFPSCAN_GetErrorInfo(int code, char* text);

ZYL_EXTERN_C_END
