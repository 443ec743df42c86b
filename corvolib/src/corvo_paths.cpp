#include "corvo_paths.h"

#include "corvo_config.h"
#include "corvo_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvo {

namespace {

std::string separator() { return config().separator; }

bool endsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool exists(const std::string &path)
{
    struct stat st
    {};
    return ::lstat(path.c_str(), &st) == 0;
}

struct DirCloser
{
    void operator()(DIR *dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The entry of directory whose name equals name ignoring ASCII case, if any.
std::optional<std::string> findCaseless(const std::string &directory, std::string_view name)
{
    DirHandle dir(::opendir(directory.empty() ? "." : directory.c_str()));
    if (!dir)
        return std::nullopt;
    while (const dirent *entry = ::readdir(dir.get())) {
        const size_t len = std::strlen(entry->d_name);
        if (len == name.size() && ::strncasecmp(entry->d_name, name.data(), len) == 0)
            return std::string(entry->d_name, len);
    }
    return std::nullopt;
}

// prefix is empty or ends with the separator; appends name in the spelling the
// volume already has.
std::string appendResolved(const std::string &prefix, std::string_view name)
{
    std::string candidate = prefix + std::string(name);
    if (exists(candidate))
        return candidate;
    const std::string sep = separator();
    if (!prefix.empty() && !endsWith(prefix, sep))
        return candidate;
    if (const auto existing = findCaseless(prefix, name))
        return prefix + *existing;
    return candidate;
}

bool makeDirectory(const std::string &path)
{
    return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && isDirectory(path));
}

const char *creationFailureText(size_t level, size_t last)
{
    if (level == 0)
        return " Create dir is fail.. [str1]";
    if (level == last)
        return " Create dir is fail.. [str]";
    return " Create dir is fail..[str2] ";
}

} // namespace

Folder historyFolder(const char *leaf) { return {"Data", "History", leaf}; }

Folder sharingFolder() { return {"Data", "Sharing"}; }

Folder workoutFolder(WorkoutKind kind, bool cycling, const char *downloadedSpelling)
{
    Folder folder{"Data"};
    switch (kind) {
    case WorkoutKind::Plan:
        folder.push_back("Plan");
        // These models keep their cycling plans with the others.
        if (isCompactModel())
            cycling = false;
        break;
    case WorkoutKind::Test:
        folder.push_back("Test");
        break;
    case WorkoutKind::Downloaded:
        folder.push_back(downloadedSpelling);
        break;
    }
    if (cycling)
        folder.push_back("Cycling");
    return folder;
}

std::optional<Folder> folderForLocation(uint32_t location)
{
    const uint32_t sport = location & 0xFF;
    const uint32_t kind = (location >> 8) & 0xFF;
    const uint32_t plan = (location >> 16) & 0xFF;
    if (sport > 1)
        return std::nullopt;
    const bool planFlag = sport == 0 ? plan == 1 : plan != 0;
    const bool cycling = sport == 1;
    switch (kind) {
    case 0:
        return workoutFolder(WorkoutKind::Plan, cycling);
    case 5:
        return workoutFolder(WorkoutKind::Test, cycling);
    case 6:
        return workoutFolder(planFlag ? WorkoutKind::Plan : WorkoutKind::Downloaded, cycling);
    default:
        return std::nullopt;
    }
}

std::optional<Folder> folderForWorkoutCode(uint8_t code)
{
    const int sport = code >> 4;
    const int kind = code & 0x0F;
    if (sport > 1)
        return std::nullopt;
    const bool cycling = sport == 1;
    switch (kind) {
    case 0:
        return workoutFolder(WorkoutKind::Plan, cycling);
    case 2:
    case 6:
        return workoutFolder(WorkoutKind::Downloaded, cycling);
    case 3:
    case 5:
        return workoutFolder(WorkoutKind::Test, cycling);
    default:
        return std::nullopt;
    }
}

std::optional<Folder> folderForKind(int kind, int flags)
{
    const bool cycling = ((flags >> 4) & 0x0F) == 1;
    switch (kind) {
    case kKindPointOfInterest:
        return sharingFolder();
    case kKindPlan:
        return workoutFolder(WorkoutKind::Plan, cycling);
    case kKindRoute:
        return workoutFolder(WorkoutKind::Plan, false);
    case kKindCyclingPlan:
        return workoutFolder(WorkoutKind::Plan, true);
    case kKindDownloaded:
        return workoutFolder(WorkoutKind::Downloaded, cycling);
    case kKindTest:
        return workoutFolder(WorkoutKind::Test, cycling);
    default:
        if (kind >= kKindActivity && kind <= kKindActivityLast)
            return Folder{"Data", "History"};
        return std::nullopt;
    }
}

std::string folderPath(const Folder &folder)
{
    std::string path = config().home;
    const std::string sep = separator();
    for (size_t i = 0; i < folder.size(); ++i) {
        if (i > 0)
            path += sep;
        path = appendResolved(path, folder[i]);
    }
    return path;
}

std::string filePath(const Folder &folder, std::string_view name)
{
    return appendResolved(folderPath(folder) + separator(), name);
}

std::string fileInDirectory(const std::string &directory, std::string_view name)
{
    return appendResolved(directory, name);
}

bool isDirectory(const std::string &path)
{
    struct stat st
    {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isSafeFileName(const char *name)
{
    if (!name || !*name)
        return false;
    const std::string_view text(name);
    if (text == "." || text == "..")
        return false;
    return text.find('/') == std::string_view::npos && text.find('\\') == std::string_view::npos;
}

bool hasExtension(std::string_view name, std::string_view extension)
{
    if (name.size() < extension.size() + 1)
        return false;
    const std::string_view tail = name.substr(name.size() - extension.size());
    return name[name.size() - extension.size() - 1] == '.'
           && ::strncasecmp(tail.data(), extension.data(), extension.size()) == 0;
}

bool ensureFolder(const Folder &folder, bool create)
{
    if (isDirectory(folderPath(folder)))
        return true;
    printFailure(" dir not exist.. ");
    if (!create)
        return false;
    for (size_t level = 0; level < folder.size(); ++level) {
        const Folder part(folder.begin(), folder.begin() + long(level) + 1);
        if (!makeDirectory(folderPath(part))) {
            printFailure(creationFailureText(level, folder.size() - 1));
            return false;
        }
    }
    return true;
}

std::optional<std::vector<std::string>> listFiles(const Folder &folder, std::string_view extension)
{
    const std::string directory = folderPath(folder);
    DirHandle dir(::opendir(directory.c_str()));
    if (!dir)
        return std::nullopt;
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (!hasExtension(entry->d_name, extension))
            continue;
        struct stat st
        {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
            names.emplace_back(entry->d_name);
    }
    return names;
}

std::string timeFileName(uint32_t time, std::string_view extension)
{
    const time_t seconds = time_t(time);
    struct tm fields
    {};
    ::gmtime_r(&seconds, &fields);
    char name[64];
    std::snprintf(name, sizeof name, "%02d%02d%02d%02d%02d%02d.", fields.tm_year - 100, fields.tm_mon + 1,
                  fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
    return std::string(name) + std::string(extension);
}

RemoveResult removeFile(const std::string &path)
{
    if (::unlink(path.c_str()) == 0)
        return RemoveResult::Removed;
    return errno == ENOENT ? RemoveResult::Missing : RemoveResult::Failed;
}

} // namespace corvo
