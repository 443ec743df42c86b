// Feeds the device's map and image, a new map and image and an ini file
// (separated by "|@@|") to the three profile functions.

#include "fuzz_scratch.h"

#include "corvolib.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &home = corvofuzz::scratchHome();
    std::vector<std::string> chunks = corvofuzz::splitChunks(data, size);
    chunks.resize(5);
    const char *files[] = {"dev/ProfileMap.txt", "dev/Profile.bin", "new/ProfileMap.txt", "new/Profile.bin",
                           "pfwrite.ini"};
    for (size_t i = 0; i < 5; ++i)
        corvofuzz::writeFile(files[i], reinterpret_cast<const uint8_t *>(chunks[i].data()), chunks[i].size());
    const std::string device = home + "dev/";
    GetProfile(device.c_str(), (home + "pfread.ini").c_str());
    UpdateProfile(device.c_str(), (home + files[2]).c_str(), (home + files[3]).c_str());
    RefreshProfile(device.c_str(), (home + files[4]).c_str());
    return 0;
}
