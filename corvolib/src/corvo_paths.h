#pragma once

// Device folders and file names below the configured home path. Lookups follow
// the device's FAT volume: a name that exists in another letter case is the
// same entry, so the existing spelling is used.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvo {

// A folder below the home path as its components, e.g. {"Data", "Plan", "Cycling"}.
using Folder = std::vector<std::string>;

enum class WorkoutKind { Plan, Test, Downloaded };

// File kind codes of the delete functions.
enum KindCode {
    kKindPointOfInterest = 20,
    kKindPlan = 21,
    kKindRoute = 22,
    kKindCyclingPlan = 23,
    kKindActivity = 30,
    kKindActivityLast = 32,
    kKindDownloaded = 35,
    kKindTest = 36,
};

Folder historyFolder(const char *leaf); // Data/History/<leaf>
Folder sharingFolder();
Folder workoutFolder(WorkoutKind kind, bool cycling, const char *downloadedSpelling = "Velorawrk");

// The 32-bit location code of the template functions.
std::optional<Folder> folderForLocation(uint32_t location);
// The one-byte code of the workout-table functions.
std::optional<Folder> folderForWorkoutCode(uint8_t code);
// A file kind code; the high nibble of flags selects the Cycling sub-folder.
std::optional<Folder> folderForKind(int kind, int flags);

std::string folderPath(const Folder &folder);
std::string filePath(const Folder &folder, std::string_view name);
// name inside an explicit folder path that ends with the separator.
std::string fileInDirectory(const std::string &directory, std::string_view name);

bool isDirectory(const std::string &path);
// One path component: no separator of either kind, not "." or "..", not empty.
bool isSafeFileName(const char *name);
bool hasExtension(std::string_view name, std::string_view extension);

// Checks the folder; when create is true creates the missing parts, printing
// the library's texts. True when the folder exists afterwards.
bool ensureFolder(const Folder &folder, bool create);

// Regular files of the folder whose extension matches (any letter case), in
// the order the file system lists them; nullopt when the folder is missing.
std::optional<std::vector<std::string>> listFiles(const Folder &folder, std::string_view extension);

// "yymmddhhmmss.<extension>" of a UTC time.
std::string timeFileName(uint32_t time, std::string_view extension);

enum class RemoveResult { Removed, Missing, Failed };
RemoveResult removeFile(const std::string &path);

} // namespace corvo
