#ifndef CORVOLIB_H
#define CORVOLIB_H

/* CorvoLib: flat C interface over the activity, workout, point-of-interest and
 * profile files of the GAL device family. Paths are 8-bit (UTF-8) strings.
 * Functions return 1 on success and 0 on failure unless stated otherwise.
 * The library keeps its configuration in process-wide state and is meant to be
 * called from one thread at a time.
 *
 * Lengths of caller buffers are taken modulo 256 (a length of 300 means 44
 * bytes). File names are single path components (no separator, not "." or
 * ".."), as returned by the list functions. */

#include <stdint.h>

#if defined(_WIN32)
#  if defined(CORVOLIB_BUILD)
#    define CORVO_API __declspec(dllexport)
#  else
#    define CORVO_API __declspec(dllimport)
#  endif
#else
#  define CORVO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result record of ProjSwCapability. */
typedef struct CorvoSwCapability
{
    char secondVersion[16]; /* the table row's second version text */
    char firstVersion[16];  /* the table row's first version text */
    unsigned char flags[2];
    char capabilities[64]; /* comma-separated capability codes, e.g. "0,101,102" */
} CorvoSwCapability;

/* An open template or point-of-interest file being written. */
typedef struct CorvoFile CorvoFile;
/* Cursors over the segment chains of a sensor log and of a track segment file. */
typedef struct SensorIterator SensorIterator;
typedef struct TrackIterator TrackIterator;

/* One sensor-log point. The slots are named after the mask bit that carries
 * them (a0 = mask A bit 0 ... c3 = mask C bit 3); slots whose bit is clear in
 * the segment are left as they were. */
typedef struct CorvoSensorPoint
{
    uint32_t time;
    uint8_t a0, a1, a2;
    uint8_t reserved1;
    int16_t a3, a4, a5;
    uint8_t a6, b6, b7;
    uint8_t reserved2;
    int16_t c1, c2, c3;
} CorvoSensorPoint;

/* One track point: time (seconds since 1970 UTC), altitude in metres and the
 * two coordinates. */
typedef struct CorvoTrackPoint
{
    uint32_t time;
    int32_t altitude;
    int32_t coordinateA;
    int32_t coordinateB;
} CorvoTrackPoint;

/* A workout-log record; its length is its own byte 28. */
typedef struct CorvoWorkoutLogRecord
{
    unsigned char bytes[256];
} CorvoWorkoutLogRecord;

/* ---- configuration ---------------------------------------------------- */
CORVO_API int SetPathDirect(const char *separator);
CORVO_API int SetHomePath(const char *home);
CORVO_API int SetModelName(const char *name);
CORVO_API int SetModelIMG(const char *model);
CORVO_API int SetModelIAP(const char *model);
/* Fills four bytes 0, 9, 0, 41 and returns buffer. */
CORVO_API unsigned char *GetDLLVersion(unsigned char *buffer);

/* ---- file lists --------------------------------------------------------
 * The amount functions store the number of files in *count; the Name
 * functions copy the name of the index-th file (from 1) into a buffer of 260
 * bytes. Both fail when the folder does not exist. */
CORVO_API int GetActivityfileamount(int *count);
CORVO_API int GetActivityfileName(int index, char *name);
CORVO_API int GetSensorLogfileamount(int *count);
CORVO_API int GetSensorLogfileName(int index, char *name);
CORVO_API int GetTrackSegfileamount(int *count);
CORVO_API int GetTrackSegfileName(int index, char *name);
CORVO_API int GetWorkoutLogfileamount(int *count);
CORVO_API int GetWorkoutLogfileName(int index, char *name);
CORVO_API int GetWorkoutTablefileamount(int *count);
CORVO_API int GetWorkoutTablefileName(int index, char *name);
/* code: high nibble sport (0 general, 1 cycling), low nibble kind (0 Plan,
 * 2 or 6 downloaded, 3 or 5 Test). */
CORVO_API int GetOtherWorkoutTablefileamount(int *count, unsigned char code);
CORVO_API int GetOtherWorkoutTablefileName(int index, char *name, unsigned char code);
/* location: bits 0-7 sport (0 general, 1 cycling), bits 8-15 kind (0 Plan,
 * 5 Test, 6 downloaded), bits 16-23 plan flag (kind 6 then means Plan). */
CORVO_API int GetWKTFileamount(int *count, uint32_t location);
CORVO_API int GetWKTFileName(int index, char *name, uint32_t location);

/* ---- activities (files in Data/History/GAL) ----------------------------- */
CORVO_API int GetActivityContent(const char *name, void *buffer, int length);
CORVO_API int GetLapCount(const char *name, unsigned char *count);
CORVO_API int GetSummaryLapContent(const char *name, void *buffer, int length);
CORVO_API int GetUserInfoContent(const char *name, void *buffer, int length);
/* lapNumber counts from 1 and must not exceed the lap count. */
CORVO_API int GetLapContent(const char *name, int lapNumber, void *buffer, int length);

/* ---- sensor-log and track cursors -------------------------------------
 * The Next*seg functions load the next segment of the chain (the first at
 * offset 16) and copy up to length bytes of its header (16 bytes for sensor
 * logs, 36 for tracks) into buffer; 0 at the end of the chain. The Get*Pot
 * functions return the next point of the current segment; 0 after the last. */
CORVO_API SensorIterator *GetSensorPotIterator(const char *name);
CORVO_API TrackIterator *GetTrackPotIterator(const char *name);
CORVO_API int NextSensorseg(SensorIterator *cursor, void *buffer, int length);
CORVO_API int NextTrackseg(TrackIterator *cursor, void *buffer, int length);
CORVO_API int GetSensorPot(SensorIterator *cursor, CorvoSensorPoint *point);
CORVO_API int GetTrackPot(TrackIterator *cursor, CorvoTrackPoint *point);
/* Close a cursor and free it; either function accepts either kind of cursor. */
CORVO_API int CloseSensorFile(SensorIterator *cursor);
CORVO_API int CloseTrackFile(TrackIterator *cursor);

/* ---- workout templates --------------------------------------------------
 * CreateTemplateWKT creates "<folder>/<name>.wkt" with the first length
 * bytes (at most 36) of the nine values as its block and returns the open
 * file, or NULL (also for the models "Pacer20plus" and "Pacer21"). */
CORVO_API CorvoFile *CreateTemplateWKT(const char *name, uint32_t location, uint32_t value1, uint32_t value2,
                                       uint32_t value3, uint32_t value4, uint32_t value5, uint32_t value6,
                                       uint32_t value7, uint32_t value8, uint32_t value9, int length);
CORVO_API int WriteNameToFile(CorvoFile *file, const void *data, int length);
CORVO_API int WriteDesToFile(CorvoFile *file, const void *data, int length);
/* Appends an interval record of length bytes (the six values, then zeros);
 * value3, when not 0xFFFFFFFF, is the 1-based number of a linked interval. */
CORVO_API int WriteTemplateInterval(CorvoFile *file, int isFirst, uint32_t value1, uint32_t value2, uint32_t value3,
                                    uint32_t value4, uint32_t value5, uint32_t value6, int length);
CORVO_API int CloseTemplateWorkout(CorvoFile *file);
/* Overwrites the block of an existing template; the folder follows from the
 * kind byte of location and from value4 (bits 0-2: 1 general, 0 cycling;
 * bit 16: Plan instead of the downloaded folder). */
CORVO_API int UpdateTemplateWKT(const char *name, uint32_t location, uint32_t value1, uint32_t value2, uint32_t value3,
                                uint32_t value4, uint32_t value5, uint32_t value6, uint32_t value7, uint32_t value8,
                                uint32_t value9, int length);
CORVO_API int ReadTemplateWKT(const char *name, uint32_t location, void *buffer, int length);
/* intervalNumber counts from 1. The record's link (bytes 8-11) comes back as
 * the 1-based number of the linked interval, as WriteTemplateInterval takes
 * it, or 0xFFFFFFFF when the file links no interval of the template. */
CORVO_API int ReadTemplateWKTInterval(const char *name, uint32_t location, void *record, int length,
                                      int intervalNumber);
/* Copies the text of the name for language (e.g. "ENG"), else of the "ENG"
 * name; *size gives the buffer's size and receives the text's length. A zero
 * is appended when the buffer has room for it. */
CORVO_API int ReadWKTName(const char *name, uint32_t location, char *buffer, int *size, const char *language);
/* Readers of templates in the Plan folder. */
CORVO_API int ReadWorkoutTable(const char *name, void *buffer, int length);
CORVO_API int ReadWorkoutTableName(const char *name, void *buffer, int length);
/* Like ReadTemplateWKTInterval, in the Plan folder. */
CORVO_API int ReadIntervalTable(const char *name, void *buffer, int length, int number);

/* ---- workout logs (files in Data/History/WLOG) ------------------------- */
CORVO_API int ReadWorkoutLog(const char *name, void *buffer, int length);
CORVO_API int UpdateWorkoutLog(const char *name, CorvoWorkoutLogRecord record);
CORVO_API int ReadIntervalLog(const char *name, void *buffer, int length, int number);

/* ---- points of interest (files in Data/Sharing) ------------------------ */
CORVO_API CorvoFile *CreatePOI(const char *name, uint32_t value1, uint32_t value2, uint32_t value3, uint32_t value4,
                               uint32_t value5, uint32_t value6, uint32_t value7, uint32_t value8, uint32_t value9,
                               int length);
CORVO_API int ClosePOI(CorvoFile *file);

/* ---- deletion ------------------------------------------------------------
 * type: 20 point of interest, 21 planned workout, 22 route, 23 cycling
 * planned workout, 30 activity, 35 downloaded workout, 36 test workout. */
CORVO_API int DeleteGALFile(int type, const char *name);
CORVO_API int DeleteGALAllFile(int type);

/* ---- profile ---------------------------------------------------------------
 * folder holds "ProfileMap.txt" and "Profile.bin" and ends with the separator. */
CORVO_API int GetProfile(const char *folder, const char *iniPath);
/* 2 when values were carried into the new image, 1 when nothing was carried
 * (another project or no newer major version), 0 on failure. */
CORVO_API int UpdateProfile(const char *folder, const char *newMapPath, const char *newBinPath);
CORVO_API int RefreshProfile(const char *folder, const char *iniPath);

/* ---- capability ------------------------------------------------------- */
/* First table row whose model name contains modelPattern: 1 and the record
 * filled, or 0 when no row matches. */
CORVO_API int ProjSwCapability(const char *modelPattern, CorvoSwCapability *result);

#ifdef __cplusplus
}
#endif

#endif /* CORVOLIB_H */
