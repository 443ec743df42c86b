// Deletion of device files with the files that belong to them: an activity
// takes its track and sensor logs along and leaves its workout log unlinked; a
// workout template takes its workout logs along.

#include "corvo_io.h"
#include "corvo_paths.h"
#include "corvo_records.h"

#include "corvolib.h"

#include <vector>

namespace {

using corvo::DeviceFile;
using corvo::Folder;
using corvo::RemoveResult;

constexpr int kMaxLinkedLogs = 255;

bool removeNamed(const std::string &path)
{
    if (corvo::removeFile(path) == RemoveResult::Removed)
        return true;
    corvo::printFailure("delete file error ");
    return false;
}

// A related file that is already gone counts as deleted.
bool removeRelated(const corvo::Folder &folder, uint32_t time, const char *extension)
{
    if (time == corvo::kNone)
        return true;
    const RemoveResult result = corvo::removeFile(corvo::filePath(folder, corvo::timeFileName(time, extension)));
    if (result == RemoveResult::Failed)
        corvo::printFailure("delete file error ");
    return result != RemoveResult::Failed;
}

void unlinkWorkoutLog(uint32_t time)
{
    if (time == corvo::kNone)
        return;
    DeviceFile log;
    if (!log.open(corvo::workoutLogPath(corvo::timeFileName(time, "wkl")), DeviceFile::Mode::ReadWrite))
        return;
    if (log.size() >= corvo::kWorkoutLogActivityLink + 4)
        log.write(corvo::kWorkoutLogActivityLink, corvo::le32(corvo::kNone));
    log.close();
}

bool deleteActivity(const std::string &name)
{
    const std::string path = corvo::activityPath(name.c_str());
    DeviceFile file;
    if (!corvo::openExisting(file, path))
        return false;
    corvo::ActivityBlock block;
    const bool known = corvo::readActivityBlock(file, block);
    file.close();
    if (known)
        unlinkWorkoutLog(block.workoutLogTime);
    if (!removeNamed(path))
        return false;
    if (!known)
        return true;
    const bool track = removeRelated(corvo::historyFolder("TRK"), block.trackTime, "trk");
    const bool sensor = removeRelated(corvo::historyFolder("SSL"), block.sensorTime, "ssl");
    return track && sensor;
}

std::vector<uint32_t> linkedLogTimes(const DeviceFile &file)
{
    corvo::TemplateBlock block;
    if (!corvo::readTemplateBlock(file, block) || block.logTable == corvo::kNone)
        return {};
    std::vector<uint32_t> times;
    for (int i = 0; i < block.linkedLogs && i < kMaxLinkedLogs; ++i) {
        uint32_t time = 0;
        if (!corvo::readU32(file, uint64_t(block.logTable) + 4u * uint64_t(i), time))
            break;
        times.push_back(time);
    }
    return times;
}

bool deleteWorkout(const Folder &folder, const std::string &name)
{
    const std::string path = corvo::filePath(folder, name);
    DeviceFile file;
    if (!corvo::openExisting(file, path))
        return false;
    const std::vector<uint32_t> times = linkedLogTimes(file);
    file.close();
    bool logsRemoved = true;
    for (const uint32_t time : times)
        logsRemoved = removeRelated(corvo::historyFolder("WLOG"), time, "wkl") && logsRemoved;
    return removeNamed(path) && logsRemoved;
}

const char *extensionOfKind(int type)
{
    switch (type) {
    case corvo::kKindPointOfInterest:
        return "poi";
    case corvo::kKindPlan:
    case corvo::kKindCyclingPlan:
    case corvo::kKindDownloaded:
    case corvo::kKindTest:
        return "wkt";
    case corvo::kKindRoute:
        return "rte";
    case corvo::kKindActivity:
        return "gal";
    default:
        return nullptr;
    }
}

bool isWorkoutKind(int type)
{
    return type == corvo::kKindPlan || type == corvo::kKindCyclingPlan || type == corvo::kKindDownloaded
           || type == corvo::kKindTest;
}

int deleteAllWorkouts(int type)
{
    const auto folder = corvo::folderForKind(type, 0);
    const auto names = corvo::listFiles(*folder, "wkt");
    if (!names)
        return 1;
    for (const std::string &name : *names) {
        if (!deleteWorkout(*folder, name))
            return 0;
    }
    return 1;
}

bool deleteAllOf(const Folder &folder, const char *extension)
{
    const auto names = corvo::listFiles(folder, extension);
    bool all = true;
    for (const std::string &name : names.value_or(std::vector<std::string>{}))
        all = removeNamed(corvo::filePath(folder, name)) && all;
    return all;
}

int deleteAllActivities()
{
    bool all = true;
    const auto activities = corvo::listFiles(corvo::historyFolder("GAL"), "gal");
    for (const std::string &name : activities.value_or(std::vector<std::string>{}))
        all = deleteActivity(name) && all;
    all = deleteAllOf(corvo::historyFolder("SSL"), "ssl") && all;
    all = deleteAllOf(corvo::historyFolder("TRK"), "trk") && all;
    return all ? 1 : 0;
}

} // namespace

extern "C" {

int DeleteGALFile(int type, const char *name)
{
    const char *extension = extensionOfKind(type);
    if (!extension || !corvo::isSafeFileName(name) || !corvo::hasExtension(name, extension))
        return 0;
    if (type == corvo::kKindActivity)
        return deleteActivity(name) ? 1 : 0;
    const auto folder = corvo::folderForKind(type, 0);
    if (isWorkoutKind(type))
        return deleteWorkout(*folder, name) ? 1 : 0;
    return removeNamed(corvo::filePath(*folder, name)) ? 1 : 0;
}

int DeleteGALAllFile(int type)
{
    if (isWorkoutKind(type))
        return deleteAllWorkouts(type);
    if (type == corvo::kKindActivity)
        return deleteAllActivities();
    return 0;
}

} // extern "C"
