#include "VHPackageFile.h"

#include "VHLog.h"
#include "VHParallelHash.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {
// Writeback of the package is started every this many bytes, so the flush
// before the rename waits only for the tail.
constexpr qint64 kWritebackStep = 8 * 1024 * 1024;
} // namespace

VHPackageFile::VHPackageFile(const QString &finalPath) : m_finalPath(finalPath) {}

VHPackageFile::~VHPackageFile() = default;

bool VHPackageFile::fail(int error)
{
    m_error = QString::fromLocal8Bit(std::strerror(error));
    return false;
}

bool VHPackageFile::open()
{
    m_part.discard();
    m_folder = VHSafeFolder::openParent(m_finalPath, VHSafeFolder::Durable, m_finalName);
    if (!m_folder.isValid())
        return fail(m_folder.lastError());
    m_part =
        VHFileOps::PendingFile(m_folder.handle(), VHFileOps::encodeName(m_finalName + QStringLiteral(".part")), 0666);
    return m_part.isValid() || fail(errno);
}

bool VHPackageFile::append(const char *data, qint64 size)
{
    if (const int error = m_part.write(data, size))
        return fail(error);
    if (!m_md5Feed)
        m_md5Feed = std::make_unique<VHParallelHash>([this](const QByteArray &chunk) { m_md5.addData(chunk); });
    const QByteArray chunk(data, size);
    m_md5Feed->add(chunk);
    if (m_parallel)
        m_parallel->add(chunk);
    m_size += size;
    if (m_size - m_writebackStart >= kWritebackStep) {
        // Only starts the disk writes; it does not wait for them.
        ::sync_file_range(m_part.handle(), m_writebackStart, m_size - m_writebackStart, SYNC_FILE_RANGE_WRITE);
        m_writebackStart = m_size;
    }
    return true;
}

void VHPackageFile::abandon() { m_part.discard(); }

bool VHPackageFile::commit()
{
    if (!m_part.isValid()) {
        m_error = QStringLiteral("package file is not open");
        return false;
    }
    // Flushed first: the rename must not reach the disk before the data does.
    if (const int error = m_folder.placeFile(m_part, m_finalName))
        return fail(error);
    // The package is whole and in place; only the folder entry may still be in memory.
    if (!m_folder.sync())
        vhWarning() << "can not flush the folder of " << m_finalName;
    return true;
}

QString VHPackageFile::md5Hex()
{
    m_md5Feed.reset(); // every byte appended is in the MD5 once it returns
    return QString::fromLatin1(m_md5.result().toHex());
}

void VHPackageFile::expectSignature(const QByteArray &signature)
{
    m_signature = signature;
    m_signatureExpected = true;
    m_parallel.reset();
    m_verifier = std::make_unique<VHMinisign::Verifier>();
    m_parallel = std::make_unique<VHParallelHash>(*m_verifier);
}

VHResult VHPackageFile::verifySignature(const VHTrustedKeys &keys, QString *trustedComment)
{
    if (!m_verifier)
        return VHResult::failure(VHMinisign::kNotAuthentic, VHMinisign::notSignedText());
    m_parallel.reset(); // every byte appended is hashed once it returns
    // The unhashed form reads the part file again; it is complete by now.
    const VHResult result = m_verifier->verify(m_signature, keys, partPath(), trustedComment);
    m_verifier.reset();
    return result;
}
