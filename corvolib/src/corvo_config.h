#pragma once

// Process-wide configuration shared by every part of the library.
namespace corvo {

constexpr int kHomeSize = 260;
constexpr int kSeparatorSize = 8;
constexpr int kModelNameSize = 32;
constexpr int kModelImgSize = 8;
constexpr int kModelIapSize = 8;

struct Config
{
    char home[kHomeSize] = {};
    char separator[kSeparatorSize] = {'/', 0};
    char modelName[kModelNameSize] = {};
    char modelImg[kModelImgSize] = {};
    char modelIap[kModelIapSize] = {};
};

Config &config();

// "Pacer20plus" and "Pacer21" keep no cycling Plan folder and take no new templates.
bool isCompactModel();

// Copies src into dst (capacity n) with a terminating zero; never writes past n.
void copyBounded(char *dst, int n, const char *src);

} // namespace corvo
