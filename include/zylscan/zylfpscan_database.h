/* On-host finger database of the device API.
 *
 * A database is the file "/usr/ZYL_<database name>" holding ten finger
 * records, enciphered whole with 3DES under the library's stored key; the
 * file is exactly ZYLFPSCAN_DATABASE_FILE_SIZE bytes. A finger is enrolled
 * in ten calls (steps 1..10) and kept with up to 15 templates; identification
 * adds a template to the record it matches when the match is sure but not
 * too close.
 *
 * Each template occupies a 20480-byte slot of its record. The engines of
 * algorithm modes 0 to 2 fill its first 1024 bytes; in modes 3 and 4 the
 * matcher library's templates take up to the whole slot, and enrolment and
 * identification stage and store whole slots (the file layout is the same).
 * On the matcher's 0..93 score scale identification never learns (it needs
 * a score between 200 and 400) and the 0x1061's check of samples too close
 * to staged ones (a score above 400) never fires.
 *
 * Names: a database name holds no '/' and at most
 * ZYLFPSCAN_DATABASE_NAME_MAX bytes; a finger name at most
 * ZYLFPSCAN_FINGER_NAME_SIZE bytes. Other names are refused with -900.
 * Fingers are found by prefix: a record matches a name when its name starts
 * with the name's bytes.
 *
 * Every changing call writes the whole database to a new file in the same
 * directory and renames it over the old one, so a failed write (-233) leaves
 * the previous database intact. Calls that find no file treat it as empty
 * (-232) and do not create it; only the last enrolment step creates it.
 *
 * File codes of every call: -1 the file cannot be opened ("open file fail"
 * on standard output), -232 the file is empty or missing, -231 it is
 * shorter than ZYLFPSCAN_DATABASE_FILE_SIZE, -233 the new file could not be
 * written, -118 no memory. No lock protects a database: callers serialise. */
#pragma once

#include "zylscan/zyl_export.h"
#include "zylscan/zylfpscan_status.h"

#define ZYLFPSCAN_DATABASE_FILE_SIZE 3072640
#define ZYLFPSCAN_DATABASE_RECORDS 10
#define ZYLFPSCAN_DATABASE_NAME_MAX 190
/* Size of a finger name field: names are zero-filled to it, and a name of
 * exactly this size has no terminating zero. */
#define ZYLFPSCAN_FINGER_NAME_SIZE 24
#define ZYLFPSCAN_ENROLL_STEPS 10

ZYL_EXTERN_C_BEGIN

/* One step (1..10) of an enrolment, capturing for at most timeout_ms + 10
 * milliseconds until an image of quality 50 or more: -103 (null handle or no
 * algorithm context), -900 (step or names), the capture's failure code,
 * -110 (no good image in time), the extraction's failure code, -238 (the
 * finger matches an enrolled one), -236 (0x1061 scanners: too similar to
 * an earlier sample). Steps 1..9 stage the sample and return 0; step 10
 * stores the ten samples in the first free record (creating the database
 * when it does not exist): 0, -234 (no free record) or a file code. */
ZYL_API int ZYLFPSCAN_Enroll(void* handle, int timeout_ms, int step, const char* database,
                             const char* finger);

/* Captures for timeout_ms + 10 milliseconds and compares every capture of
 * quality 50 or more with every enrolled finger at the security level
 * (1..11); the last such capture decides. 0 when it matched a finger: name
 * receives the finger's ZYLFPSCAN_FINGER_NAME_SIZE-byte name field; -235
 * when it matched none; -211 when no capture was good enough. *score holds
 * the best score of the last comparison. -103 (null handle or no algorithm
 * context), -900 (null or bad database name, null name or score), the
 * capture's failure code, file codes; -233 when a learnt template could not
 * be written. */
ZYL_API int ZYLFPSCAN_Identify(void* handle, int level, int timeout_ms, const char* database,
                               char* name, int* score);

/* The handle of the calls below is not used. */

/* Frees the first enrolled finger whose name starts with finger and
 * rewrites the database: 0 deleted, 1 no such finger, -900, file codes. */
ZYL_API int ZYLFPSCAN_DeleteFinger(void* handle, const char* database, const char* finger);
/* Frees every enrolled finger and rewrites the database: 0, -900, file
 * codes. */
ZYL_API int ZYLFPSCAN_DeleteAllFinger(void* handle, const char* database);
/* Copies the name field of every enrolled finger, ZYLFPSCAN_FINGER_NAME_SIZE
 * bytes each, in record order into names (room for
 * ZYLFPSCAN_DATABASE_RECORDS names), and their number into *count: 0, 10
 * (null names or count), -900, file codes. Nothing is written to the file. */
ZYL_API int ZYLFPSCAN_EnrollListFingers(void* handle, const char* database, char* names, int* count);
/* Renames the first enrolled finger whose name starts with old_name and
 * rewrites the database; 0 also when no finger matched. -900, file codes. */
ZYL_API int ZYLFPSCAN_RenameFinger(void* handle, const char* database, const char* old_name,
                                   const char* new_name);

ZYL_EXTERN_C_END
