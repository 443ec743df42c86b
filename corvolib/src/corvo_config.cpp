#include "corvo_config.h"

#include "corvolib.h"

#include <cstring>

namespace corvo {

Config &config()
{
    static Config c;
    return c;
}

bool isCompactModel()
{
    const char *model = config().modelName;
    return std::strcmp(model, "Pacer20plus") == 0 || std::strcmp(model, "Pacer21") == 0;
}

void copyBounded(char *dst, int n, const char *src)
{
    if (n <= 0)
        return;
    if (!src) {
        dst[0] = 0;
        return;
    }
    const size_t len = strnlen(src, size_t(n - 1));
    std::memcpy(dst, src, len);
    dst[len] = 0;
}

} // namespace corvo

using corvo::config;
using corvo::copyBounded;

extern "C" {

int SetPathDirect(const char *separator)
{
    copyBounded(config().separator, corvo::kSeparatorSize, separator);
    return 1;
}

int SetHomePath(const char *home)
{
    copyBounded(config().home, corvo::kHomeSize, home);
    return 1;
}

int SetModelName(const char *name)
{
    std::memset(config().modelName, 0, 12);
    copyBounded(config().modelName, corvo::kModelNameSize, name);
    return 1;
}

int SetModelIMG(const char *model)
{
    std::memset(config().modelImg, 0, corvo::kModelImgSize);
    copyBounded(config().modelImg, corvo::kModelImgSize, model);
    return 1;
}

int SetModelIAP(const char *model)
{
    std::memset(config().modelIap, 0, corvo::kModelIapSize);
    copyBounded(config().modelIap, corvo::kModelIapSize, model);
    return 1;
}

unsigned char *GetDLLVersion(unsigned char *buffer)
{
    if (buffer) {
        buffer[0] = 0;
        buffer[1] = 9;
        buffer[2] = 0;
        buffer[3] = 41;
    }
    return buffer;
}

} // extern "C"
