#include "VHServerFault.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<VHServerFault, const char *>, 12> kNames = {{
    {VHServerFault::None, "none"},
    {VHServerFault::Http500, "http500"},
    {VHServerFault::TruncatedBody, "truncated"},
    {VHServerFault::WrongMd5, "wrongmd5"},
    {VHServerFault::SlowReply, "slow"},
    {VHServerFault::EmptyBody, "empty"},
    {VHServerFault::NonJsonBody, "nonjson"},
    {VHServerFault::TruncatedNoLength, "cutnolength"},
    {VHServerFault::GzipBody, "gzip"},
    {VHServerFault::GzipTruncated, "gzipcut"},
    {VHServerFault::ChunkedBody, "chunked"},
    {VHServerFault::ChunkedTruncated, "chunkedcut"},
}};

} // namespace

QString faultName(VHServerFault fault)
{
    for (const auto &entry : kNames) {
        if (entry.first == fault)
            return QString::fromLatin1(entry.second);
    }
    return {};
}

std::optional<VHServerFault> faultFromName(const QString &name)
{
    for (const auto &entry : kNames) {
        if (name.compare(QLatin1String(entry.second), Qt::CaseInsensitive) == 0)
            return entry.first;
    }
    return std::nullopt;
}
