// Feeds one input as every kind of device-log file and runs every reader over
// it, then the deletion cascades that read the same files.

#include "fuzz_scratch.h"

#include "corvolib.h"

#include <vector>

namespace {

constexpr int kMaxSegments = 4096;
constexpr int kMaxPoints = 1 << 16;

void readActivity()
{
    for (int length : {24, 88, 255}) {
        std::vector<unsigned char> buffer(static_cast<size_t>(length));
        GetActivityContent("f.gal", buffer.data(), length);
        GetSummaryLapContent("f.gal", buffer.data(), length);
        GetUserInfoContent("f.gal", buffer.data(), length);
        for (int lap = 0; lap <= 3; ++lap)
            GetLapContent("f.gal", lap, buffer.data(), length);
    }
    unsigned char laps = 0;
    GetLapCount("f.gal", &laps);
}

// Walks every segment and point of one log, as far as the bounds allow.
template <typename Cursor, typename Point>
void walk(Cursor *cursor, int headerSize, int (*nextSegment)(Cursor *, void *, int),
          int (*nextPoint)(Cursor *, Point *), int (*close)(Cursor *))
{
    if (!cursor)
        return;
    std::vector<unsigned char> header(static_cast<size_t>(headerSize));
    int points = 0;
    for (int segments = 0; segments < kMaxSegments && nextSegment(cursor, header.data(), headerSize); ++segments) {
        Point point;
        while (points < kMaxPoints && nextPoint(cursor, &point))
            ++points;
    }
    close(cursor);
}

void readTemplate()
{
    std::vector<unsigned char> block(36);
    ReadTemplateWKT("f.wkt", 0, block.data(), 36);
    ReadWorkoutTable("f.wkt", block.data(), 36);
    for (int number = 0; number <= 2; ++number) {
        std::vector<unsigned char> record(24);
        ReadTemplateWKTInterval("f.wkt", 0, record.data(), 24, number);
        ReadIntervalTable("f.wkt", record.data(), 24, number);
    }
    for (const char *language : {"ENG", "FRA", ""}) {
        for (int capacity : {1, 8, 300}) {
            std::vector<char> name(static_cast<size_t>(capacity));
            int size = capacity;
            ReadWKTName("f.wkt", 0, name.data(), &size, language);
        }
    }
}

void readWorkoutLog()
{
    std::vector<unsigned char> buffer(28);
    ReadWorkoutLog("f.wkl", buffer.data(), 28);
    for (int number = 1; number <= 2; ++number)
        ReadIntervalLog("f.wkl", buffer.data(), 28, number);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    corvofuzz::scratchHome();
    for (const char *path : {"Data/History/GAL/f.gal", "Data/History/SSL/f.ssl", "Data/History/TRK/f.trk",
                             "Data/History/WLOG/f.wkl", "Data/Plan/f.wkt"})
        corvofuzz::writeFile(path, data, size);
    readActivity();
    walk(GetSensorPotIterator("f.ssl"), 16, NextSensorseg, GetSensorPot, CloseSensorFile);
    walk(GetTrackPotIterator("f.trk"), 36, NextTrackseg, GetTrackPot, CloseTrackFile);
    readTemplate();
    readWorkoutLog();
    int count = 0;
    GetActivityfileamount(&count);
    DeleteGALFile(30, "f.gal");
    DeleteGALFile(21, "f.wkt");
    return 0;
}
