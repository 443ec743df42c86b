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

int main(int argc, char **argv)
{
    char home[512];
    unsigned char version[4];
    CorvoSwCapability capability;
    CorvoFile *poi;
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

    check(GetActivityfileamount(&count) == 0, "no activity folder yet");
    track = GetTrackPotIterator("missing.trk");
    check(track == NULL, "no cursor over a missing file");

    if (failures == 0)
        printf("C interface: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
