#ifndef CORVOLIB_H
#define CORVOLIB_H

/* CorvoLib: flat C interface over the activity, workout, point-of-interest and
 * profile files of the GAL device family. Paths are 8-bit (UTF-8) strings.
 * Functions return 1 on success and 0 on failure unless stated otherwise.
 * The library keeps its configuration in process-wide state and is meant to be
 * called from one thread at a time. */

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
typedef struct CorvoSwCapability {
    char secondVersion[16];  /* the table row's second version text */
    char firstVersion[16];   /* the table row's first version text */
    unsigned char flags[2];
    char capabilities[64];   /* comma-separated capability codes, e.g. "0,101,102" */
} CorvoSwCapability;

/* ---- configuration ---------------------------------------------------- */
CORVO_API int SetPathDirect(const char *separator);
CORVO_API int SetHomePath(const char *home);
CORVO_API int SetModelName(const char *name);
CORVO_API int SetModelIMG(const char *model);
CORVO_API int SetModelIAP(const char *model);
/* Fills four bytes 0, 9, 0, 41 and returns buffer. */
CORVO_API unsigned char *GetDLLVersion(unsigned char *buffer);

/* ---- capability ------------------------------------------------------- */
/* First table row whose model name contains modelPattern: 1 and the record
 * filled, or 0 when no row matches. */
CORVO_API int ProjSwCapability(const char *modelPattern, CorvoSwCapability *result);

#ifdef __cplusplus
}
#endif

#endif /* CORVOLIB_H */
