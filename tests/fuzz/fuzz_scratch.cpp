#include "fuzz_scratch.h"

#include "corvolib.h"

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace corvofuzz {

namespace {

std::string g_home;

int removeEntry(const char *path, const struct stat *, int, struct FTW *) { return ::remove(path); }

void removeScratch()
{
    if (!g_home.empty())
        ::nftw(g_home.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void makeParents(const std::string &path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0777);
}

} // namespace

const std::string &scratchHome()
{
    if (g_home.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvofuzz.XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        g_home = pattern + "/";
        std::atexit(removeScratch);
        if (!std::freopen("/dev/null", "w", stdout))
            std::abort();
        SetPathDirect("/");
        SetHomePath(g_home.c_str());
        SetModelName("Pulsar40");
    }
    return g_home;
}

void writeFile(const std::string &relative, const uint8_t *data, size_t size)
{
    const std::string path = scratchHome() + relative;
    makeParents(path);
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
}

std::vector<std::string> splitChunks(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> chunks;
    size_t start = 0;
    while (true) {
        const size_t mark = text.find("|@@|", start);
        chunks.emplace_back(text.substr(start, mark == std::string_view::npos ? mark : mark - start));
        if (mark == std::string_view::npos)
            return chunks;
        start = mark + 4;
    }
}

} // namespace corvofuzz
