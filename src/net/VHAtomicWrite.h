#pragma once

#include <QByteArray>
#include <QString>

// Files the next run relies on are written under a temporary name in the same
// folder and renamed over the old one, so a crash leaves the old file or the
// new one, never half of either.
namespace VHAtomicWrite {

// Replaces `path` with `data`; on failure the old file is untouched and
// `error` (when given) holds the reason.
bool replaceWith(const QString &path, const QByteArray &data, QString *error = nullptr);

inline bool replaceWithText(const QString &path, const QString &text, QString *error = nullptr)
{
    return replaceWith(path, text.toUtf8(), error);
}

} // namespace VHAtomicWrite
