#pragma once

#include "VHMinisign.h"
#include "VHSafeFolder.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <memory>

class VHTrustedKeys;
class VHParallelHash;

// The package as it arrives: appended to "<final>.part" beside the final file,
// its MD5 computed on the way. Only commit() touches the final name, by a
// rename once the data is on disk; a file abandoned or destroyed without a
// commit is removed.
class VHPackageFile
{
public:
    explicit VHPackageFile(const QString &finalPath);
    ~VHPackageFile();

    bool open();
    bool append(const char *data, qint64 size);
    void abandon();
    // Flushes to disk, then renames over the final path.
    bool commit();

    QString partPath() const { return m_finalPath + QStringLiteral(".part"); }
    QString finalPath() const { return m_finalPath; }
    qint64 size() const { return m_size; }
    QString errorString() const { return m_error; }
    // Lower-case hexadecimal MD5 of the bytes appended so far.
    // Waits for the MD5's thread to take in every byte appended.
    QString md5Hex();
    // Called before the first append: the bytes are also hashed for `signature`.
    void expectSignature(const QByteArray &signature);
    bool expectsSignature() const { return m_signatureExpected; }
    QByteArray signature() const { return m_signature; }
    // Checks the bytes appended against the expected signature (once, at the end).
    VHResult verifySignature(const VHTrustedKeys &keys, QString *trustedComment);

private:
    bool fail(int error);

    QString m_finalPath;
    QString m_finalName;
    // Declared before the file, whose removal goes through its handle.
    VHSafeFolder m_folder;
    VHFileOps::PendingFile m_part;
    QCryptographicHash m_md5{QCryptographicHash::Md5};
    // Feeds m_md5 on a thread of its own from the first append: the receiving
    // thread then only copies bytes to the file. Declared after m_md5.
    std::unique_ptr<VHParallelHash> m_md5Feed;
    std::unique_ptr<VHMinisign::Verifier> m_verifier;
    // Feeds m_verifier on a thread of its own; declared after it, so it stops first.
    std::unique_ptr<VHParallelHash> m_parallel;
    QByteArray m_signature;
    bool m_signatureExpected = false;
    qint64 m_size = 0;
    qint64 m_writebackStart = 0;
    QString m_error;
};
