// The file lists: how many files of a kind a folder holds and their names.

#include "corvo_config.h"
#include "corvo_io.h"
#include "corvo_paths.h"

#include "corvolib.h"

namespace {

using corvo::Folder;

constexpr int kNameBufferSize = 260;

int countFiles(const std::optional<Folder> &folder, const char *extension, int *count)
{
    if (!folder || !count)
        return 0;
    const auto names = corvo::listFiles(*folder, extension);
    if (!names) {
        corvo::printFailure(" dir not exist.. ");
        return 0;
    }
    *count = int(names->size());
    return 1;
}

int nameOfFile(const std::optional<Folder> &folder, const char *extension, int index, char *name)
{
    if (!folder || !name)
        return 0;
    const auto names = corvo::listFiles(*folder, extension);
    if (!names) {
        corvo::printFailure(" dir not exist.. ");
        return 0;
    }
    if (index < 1 || size_t(index) > names->size())
        return 0;
    corvo::copyBounded(name, kNameBufferSize, (*names)[size_t(index - 1)].c_str());
    return 1;
}

Folder planFolder() { return corvo::workoutFolder(corvo::WorkoutKind::Plan, false); }

} // namespace

extern "C" {

int GetActivityfileamount(int *count) { return countFiles(corvo::historyFolder("GAL"), "gal", count); }

int GetActivityfileName(int index, char *name) { return nameOfFile(corvo::historyFolder("GAL"), "gal", index, name); }

int GetSensorLogfileamount(int *count) { return countFiles(corvo::historyFolder("SSL"), "ssl", count); }

int GetSensorLogfileName(int index, char *name) { return nameOfFile(corvo::historyFolder("SSL"), "ssl", index, name); }

int GetTrackSegfileamount(int *count) { return countFiles(corvo::historyFolder("TRK"), "trk", count); }

int GetTrackSegfileName(int index, char *name) { return nameOfFile(corvo::historyFolder("TRK"), "trk", index, name); }

int GetWorkoutLogfileamount(int *count) { return countFiles(corvo::historyFolder("WLOG"), "wkl", count); }

int GetWorkoutLogfileName(int index, char *name)
{
    return nameOfFile(corvo::historyFolder("WLOG"), "wkl", index, name);
}

int GetWorkoutTablefileamount(int *count) { return countFiles(planFolder(), "wkt", count); }

int GetWorkoutTablefileName(int index, char *name) { return nameOfFile(planFolder(), "wkt", index, name); }

int GetOtherWorkoutTablefileamount(int *count, unsigned char code)
{
    return countFiles(corvo::folderForWorkoutCode(code), "wkt", count);
}

int GetOtherWorkoutTablefileName(int index, char *name, unsigned char code)
{
    return nameOfFile(corvo::folderForWorkoutCode(code), "wkt", index, name);
}

int GetWKTFileamount(int *count, uint32_t location)
{
    return countFiles(corvo::folderForLocation(location), "wkt", count);
}

int GetWKTFileName(int index, char *name, uint32_t location)
{
    return nameOfFile(corvo::folderForLocation(location), "wkt", index, name);
}

} // extern "C"
