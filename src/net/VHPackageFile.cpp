#include "VHPackageFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {
// Writeback of the package is started every this many bytes, so the flush
// before the rename waits only for the tail.
constexpr qint64 kWritebackStep = 8 * 1024 * 1024;
} // namespace

VHPackageFile::VHPackageFile(const QString &finalPath)
    : m_finalPath(finalPath), m_part(finalPath + QStringLiteral(".part"))
{}

VHPackageFile::~VHPackageFile() { abandon(); }

bool VHPackageFile::open()
{
    // Unbuffered: the reply hands over large chunks, a second copy gains nothing.
    if (m_part.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    m_error = m_part.errorString();
    return false;
}

bool VHPackageFile::append(const char *data, qint64 size)
{
    if (m_part.write(data, size) != size) {
        m_error = m_part.errorString();
        return false;
    }
    m_md5.addData(QByteArrayView(data, size));
    m_size += size;
    if (m_size - m_writebackStart >= kWritebackStep) {
        // Only starts the disk writes; it does not wait for them.
        ::sync_file_range(m_part.handle(), m_writebackStart, m_size - m_writebackStart, SYNC_FILE_RANGE_WRITE);
        m_writebackStart = m_size;
    }
    return true;
}

void VHPackageFile::abandon()
{
    if (m_part.isOpen())
        m_part.close();
    if (m_part.exists())
        m_part.remove();
}

bool VHPackageFile::commit()
{
    if (!m_part.isOpen()) {
        m_error = QStringLiteral("package file is not open");
        return false;
    }
    // The rename must not reach the disk before the data does.
    if (::fsync(m_part.handle()) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        abandon();
        return false;
    }
    m_part.close();
    const QByteArray from = QFile::encodeName(m_part.fileName());
    const QByteArray to = QFile::encodeName(m_finalPath);
    // rename(2) replaces the old package in one step (QFile::rename would refuse).
    if (std::rename(from.constData(), to.constData()) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        abandon();
        return false;
    }
    return true;
}

QString VHPackageFile::md5Hex() const { return QString::fromLatin1(m_md5.result().toHex()); }
