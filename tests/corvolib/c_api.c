/* Calls CorvoLib from C through its header alone. argv[1] is a scratch folder
 * that becomes the device volume. */
#include "corvolib.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

static int failures = 0;

static void check(int condition, const char *what)
{
    if (!condition) {
        printf("FAIL: %s\n", what);
        ++failures;
    }
}

static uint32_t le32(const unsigned char *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

int main(int argc, char **argv)
{
    char home[512];
    unsigned char version[4];
    CorvoSwCapability capability;
    CorvoFile *poi;
    CorvoFile *workout;
    unsigned char interval[24];
    TrackIterator *track;
    int count = -1;

    if (argc < 2)
        return 2;
    mkdir(argv[1], 0777);
    snprintf(home, sizeof home, "%s/", argv[1]);
    check(SetPathDirect("/") == 1, "SetPathDirect");
    check(SetHomePath(home) == 1, "SetHomePath");

    check(GetDLLVersion(version) == version, "GetDLLVersion returns its buffer");
    check(version[0] == 0 && version[1] == 9 && version[2] == 0 && version[3] == 41, "GetDLLVersion bytes");

    check(ProjSwCapability("Pacer50", &capability) == 1, "ProjSwCapability finds Pacer50");
    check(strcmp(capability.secondVersion, "R025") == 0, "Pacer50 second version");
    check(ProjSwCapability("NoSuchModel", &capability) == 0, "ProjSwCapability without a row");

    poi = CreatePOI("home.poi", 1, 2, 3, 4, 5, 6, 7, 8, 9, 36);
    check(poi != NULL, "CreatePOI");
    check(ClosePOI(poi) == 1, "ClosePOI");
    check(DeleteGALFile(20, "home.poi") == 1, "DeleteGALFile of the point");

    workout = CreateTemplateWKT("Laps", 0, 1, 2, 0xFFFFFFFFu, 4, 5, 6, 7, 8, 9, 36);
    check(workout != NULL, "CreateTemplateWKT");
    check(WriteTemplateInterval(workout, 1, 10, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0, 0, 24) == 1, "first interval");
    check(WriteTemplateInterval(workout, 0, 20, 0xFFFFFFFFu, 1, 0, 0, 0, 24) == 1, "interval linking the first");
    check(CloseTemplateWorkout(workout) == 1, "CloseTemplateWorkout");
    check(ReadIntervalTable("Laps.wkt", interval, 24, 2) == 1, "ReadIntervalTable");
    check(le32(interval) == 20 && le32(interval + 8) == 1, "the link reads back as the interval number written");

    check(GetActivityfileamount(&count) == 0, "no activity folder yet");
    track = GetTrackPotIterator("missing.trk");
    check(track == NULL, "no cursor over a missing file");

    if (failures == 0)
        printf("C interface: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
