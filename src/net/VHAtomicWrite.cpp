#include "VHAtomicWrite.h"

#include <QSaveFile>

namespace VHAtomicWrite {

bool replaceWith(const QString &path, const QByteArray &data, QString *error)
{
    QSaveFile file(path);
    // Writing in place would defeat the purpose; fail instead.
    file.setDirectWriteFallback(false);
    const bool ok = file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

} // namespace VHAtomicWrite
