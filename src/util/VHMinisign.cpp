#include "VHMinisign.h"

#include "VHByteReader.h"
#include "VHParallelHash.h"
#include "VHTrustedKeys.h"

#include <QFile>
#include <QList>

#include <openssl/evp.h>
#include <sodium.h>

namespace VHMinisign {

namespace {

constexpr qsizetype kHashSize = crypto_generichash_BYTES_MAX; // 64: BLAKE2b-512
constexpr qsizetype kKeyIdSize = 8;
constexpr qsizetype kAlgorithmSize = 2;
constexpr qsizetype kChecksumSize = 32;
constexpr qsizetype kSaltSize = 32;
constexpr qsizetype kPublicKeyBytes = kAlgorithmSize + kKeyIdSize + kKeySize;
constexpr qsizetype kSignatureBytes = kAlgorithmSize + kKeyIdSize + kSignatureSize;
// algorithm, kdf, checksum algorithm, salt, opslimit, memlimit, key id, secret, checksum
constexpr qsizetype kSecretKeyBytes = 3 * kAlgorithmSize + kSaltSize + 8 + 8 + kKeyIdSize + kSecretSize + kChecksumSize;
// Files stream through in pieces of this size when they are read here.
constexpr qint64 kReadStep = 1024 * 1024;

const QByteArray kUntrusted = QByteArrayLiteral("untrusted comment: ");
const QByteArray kTrusted = QByteArrayLiteral("trusted comment: ");
const QByteArray kEd = QByteArrayLiteral("Ed");
const QByteArray kPrehashedEd = QByteArrayLiteral("ED");
const QByteArray kBlake2 = QByteArrayLiteral("B2");
const QByteArray kNoKdf(2, '\0');

bool sodiumReady()
{
    // Safe to call from any thread, any number of times.
    static const bool ready = sodium_init() >= 0;
    return ready;
}

const unsigned char *bytesOf(QByteArrayView view) { return reinterpret_cast<const unsigned char *>(view.data()); }

// The lines of a small text file without their line ends; a trailing empty line is dropped.
QList<QByteArray> linesOf(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The `count` lines of a key or signature file that starts with its
// untrusted comment and fits the size limit; empty for anything else.
QList<QByteArray> minisignLines(const QByteArray &text, qsizetype count)
{
    if (text.size() > kMaxSignatureSize)
        return {};
    const QList<QByteArray> lines = linesOf(text);
    return lines.size() == count && lines[0].startsWith(kUntrusted) ? lines : QList<QByteArray>();
}

// Exactly `size` bytes of strict base64, or empty.
QByteArray decodeBase64(const QByteArray &line, qsizetype size)
{
    const auto decoded = QByteArray::fromBase64Encoding(line.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == size ? decoded.decoded : QByteArray();
}

quint64 readKeyId(VHByteReader &reader) { return reader.u64(); }

QByteArray keyIdBytes(quint64 keyId)
{
    QByteArray bytes(kKeyIdSize, '\0');
    VHByteWriter(bytes).u64(keyId);
    return bytes;
}

QByteArray detachedSignature(const SecretKey &key, QByteArrayView message)
{
    QByteArray signature(kSignatureSize, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr, bytesOf(message),
                         quint64(message.size()), bytesOf(key.secret));
    return signature;
}

bool detachedSignatureHolds(QByteArrayView signature, QByteArrayView message, const QByteArray &publicKey)
{
    return crypto_sign_verify_detached(bytesOf(signature), bytesOf(message), quint64(message.size()),
                                       bytesOf(publicKey))
           == 0;
}

QByteArray secretChecksum(const SecretKey &key)
{
    QByteArray checksum(kChecksumSize, '\0');
    const QByteArray input = kEd + keyIdBytes(key.keyId) + key.secret;
    crypto_generichash(reinterpret_cast<unsigned char *>(checksum.data()), size_t(checksum.size()), bytesOf(input),
                       quint64(input.size()), nullptr, 0);
    return checksum;
}

VHResult damaged() { return VHResult::failure(kNotAuthentic, damagedText()); }

QString commentOr(const QString &comment, const QString &fallback) { return comment.isEmpty() ? fallback : comment; }

} // namespace

QString keyIdText(quint64 keyId) { return QStringLiteral("%1").arg(keyId, 16, 16, QLatin1Char('0')).toUpper(); }

PublicKey SecretKey::publicKey() const
{
    // libsodium's secret key carries the public key in its second half.
    return {keyId, secret.mid(kSecretSize - kKeySize)};
}

VHResult parsePublicKey(const QByteArray &text, PublicKey &key)
{
    const QList<QByteArray> lines = minisignLines(text, 2);
    const VHResult refused = VHResult::failure(kNotAuthentic, QStringLiteral("the key file is not a public key"));
    if (lines.isEmpty())
        return refused;
    VHByteReader reader(decodeBase64(lines[1], kPublicKeyBytes));
    if (reader.bytes(kAlgorithmSize) != kEd)
        return refused;
    key.keyId = readKeyId(reader);
    key.key = reader.bytes(kKeySize);
    return reader.ok() ? VHResult::success() : refused;
}

VHResult parseSecretKey(const QByteArray &text, SecretKey &key)
{
    const QList<QByteArray> lines = minisignLines(text, 2);
    const VHResult refused = VHResult::failure(kNotAuthentic, QStringLiteral("the key file is not a secret key"));
    if (lines.isEmpty())
        return refused;
    VHByteReader reader(decodeBase64(lines[1], kSecretKeyBytes));
    const QByteArray algorithm = reader.bytes(kAlgorithmSize);
    const QByteArray kdf = reader.bytes(kAlgorithmSize);
    const QByteArray checksumAlgorithm = reader.bytes(kAlgorithmSize);
    reader.skip(kSaltSize + 8 + 8);
    key.keyId = readKeyId(reader);
    key.secret = reader.bytes(kSecretSize);
    const QByteArray checksum = reader.bytes(kChecksumSize);
    if (!reader.ok() || algorithm != kEd || checksumAlgorithm != kBlake2)
        return refused;
    if (kdf != kNoKdf)
        return VHResult::failure(kNotAuthentic, QStringLiteral("the secret key is protected by a password"));
    // The signing tool leaves the checksum of a key without a password zero.
    const bool checked = checksum == QByteArray(kChecksumSize, '\0') || checksum == secretChecksum(key);
    return sodiumReady() && checked ? VHResult::success() : refused;
}

VHResult parseSignature(const QByteArray &text, Signature &signature)
{
    const QList<QByteArray> lines = minisignLines(text, 4);
    if (lines.isEmpty() || !lines[2].startsWith(kTrusted))
        return damaged();
    VHByteReader reader(decodeBase64(lines[1], kSignatureBytes));
    const QByteArray algorithm = reader.bytes(kAlgorithmSize);
    signature.prehashed = algorithm == kPrehashedEd;
    signature.keyId = readKeyId(reader);
    signature.signature = reader.bytes(kSignatureSize);
    signature.trustedComment = lines[2].mid(kTrusted.size());
    signature.globalSignature = decodeBase64(lines[3], kSignatureSize);
    if (!reader.ok() || (algorithm != kPrehashedEd && algorithm != kEd) || signature.globalSignature.isEmpty())
        return damaged();
    return VHResult::success();
}

VHResult verifySignature(const Signature &signature, const PublicKey &key, QByteArrayView signedBytes)
{
    if (!sodiumReady() || key.key.size() != kKeySize)
        return VHResult::failure(kNotAuthentic, mismatchText());
    if (!detachedSignatureHolds(signature.signature, signedBytes, key.key))
        return VHResult::failure(kNotAuthentic, mismatchText());
    if (!detachedSignatureHolds(signature.globalSignature, signature.signature + signature.trustedComment, key.key))
        return VHResult::failure(kNotAuthentic, commentChangedText());
    return VHResult::success();
}

// ---- Verifier ----

// The file's BLAKE2b-512 comes from libcrypto: the same digest as
// libsodium's unkeyed generichash, at about three times its speed here, so
// the check before a write costs less than the package's MD5.
struct Verifier::State
{
    struct Free
    {
        void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> hash{EVP_MD_CTX_new()};
    bool ready = false;
};

Verifier::Verifier() : m_state(std::make_unique<State>())
{
    sodiumReady();
    m_state->ready = m_state->hash && EVP_DigestInit_ex(m_state->hash.get(), EVP_blake2b512(), nullptr) == 1;
}

Verifier::~Verifier() = default;

void Verifier::addData(QByteArrayView bytes)
{
    if (m_state->ready)
        m_state->ready = EVP_DigestUpdate(m_state->hash.get(), bytes.data(), size_t(bytes.size())) == 1;
}

QByteArray Verifier::prehash()
{
    QByteArray hash(kHashSize, '\0');
    unsigned int length = 0;
    const bool done =
        m_state->ready
        && EVP_DigestFinal_ex(m_state->hash.get(), reinterpret_cast<unsigned char *>(hash.data()), &length) == 1
        && length == unsigned(kHashSize);
    m_state->ready = false;
    // No hash matches no signature: an empty prehash is refused as a mismatch.
    return done ? hash : QByteArray();
}

VHResult Verifier::verify(const QByteArray &signatureText, const VHTrustedKeys &keys, const QString &path,
                          QString *trustedComment)
{
    if (signatureText.isNull())
        return VHResult::failure(kNotAuthentic, notSignedText());
    Signature signature;
    if (const VHResult parsed = parseSignature(signatureText, signature); !parsed)
        return parsed;
    const PublicKey *key = keys.find(signature.keyId);
    if (!key)
        return VHResult::failure(kNotAuthentic, unknownKeyText().arg(keyIdText(signature.keyId)));
    VHResult result;
    if (signature.prehashed) {
        const QByteArray hash = prehash();
        if (hash.isEmpty())
            return VHResult::failure(kNotAuthentic, mismatchText());
        result = verifySignature(signature, *key, hash);
    } else {
        // The unhashed form signs the file itself: mapped, not read into memory.
        QFile file(path);
        const uchar *mapped = file.open(QIODevice::ReadOnly) ? file.map(0, file.size()) : nullptr;
        if (!mapped && file.size() != 0)
            return VHResult::failure(kNotAuthentic, mismatchText());
        result = verifySignature(signature, *key,
                                 QByteArrayView(reinterpret_cast<const char *>(mapped), mapped ? file.size() : 0));
    }
    if (result && trustedComment)
        *trustedComment = QString::fromUtf8(signature.trustedComment);
    return result;
}

VHResult verifyFile(const QString &path, const QByteArray &signatureText, const VHTrustedKeys &keys,
                    QString *trustedComment)
{
    Verifier verifier;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return VHResult::failure(kNotAuthentic, mismatchText());
    {
        // Reading the next chunk overlaps hashing this one.
        VHParallelHash hash(verifier);
        for (QByteArray chunk = file.read(kReadStep); !chunk.isEmpty(); chunk = file.read(kReadStep))
            hash.add(std::move(chunk));
    }
    return verifier.verify(signatureText, keys, path, trustedComment);
}

// ---- signing ----

SecretKey generateKey()
{
    sodiumReady();
    SecretKey key;
    key.secret = QByteArray(kSecretSize, '\0');
    QByteArray publicKey(kKeySize, '\0');
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                        reinterpret_cast<unsigned char *>(key.secret.data()));
    randombytes_buf(&key.keyId, sizeof key.keyId);
    return key;
}

QByteArray publicKeyText(const PublicKey &key, const QString &comment)
{
    const QString untrusted = commentOr(comment, QStringLiteral("minisign public key ") + keyIdText(key.keyId));
    return kUntrusted + untrusted.toUtf8() + '\n' + (kEd + keyIdBytes(key.keyId) + key.key).toBase64() + '\n';
}

QByteArray secretKeyText(const SecretKey &key, const QString &comment)
{
    QByteArray bytes(kSecretKeyBytes, '\0');
    VHByteWriter writer(bytes);
    writer.bytes(kEd).bytes(kNoKdf).bytes(kBlake2).fill(kSaltSize + 8 + 8, 0);
    writer.u64(key.keyId).bytes(key.secret).bytes(secretChecksum(key));
    const QString untrusted = commentOr(comment, QStringLiteral("minisign encrypted secret key"));
    return kUntrusted + untrusted.toUtf8() + '\n' + bytes.toBase64() + '\n';
}

namespace {

QByteArray signatureText(const SecretKey &key, const QByteArray &algorithm, QByteArrayView signedBytes,
                         const QString &trustedComment)
{
    const QByteArray signature = detachedSignature(key, signedBytes);
    // One line: a line break would end the comment early.
    QByteArray comment = trustedComment.toUtf8();
    comment.replace('\n', ' ').replace('\r', ' ');
    const QByteArray global = detachedSignature(key, signature + comment);
    return kUntrusted + "signature from velora secret key\n"
           + (algorithm + keyIdBytes(key.keyId) + signature).toBase64() + '\n' + kTrusted + comment + '\n'
           + global.toBase64() + '\n';
}

} // namespace

QByteArray signBytes(const SecretKey &key, QByteArrayView bytes, const QString &trustedComment)
{
    Verifier hasher;
    hasher.addData(bytes);
    const QByteArray hash = hasher.prehash();
    return hash.isEmpty() ? QByteArray() : signatureText(key, kPrehashedEd, hash, trustedComment);
}

QByteArray signFile(const SecretKey &key, const QString &path, const QString &trustedComment, bool legacy)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (legacy)
        return signatureText(key, kEd, file.readAll(), trustedComment);
    Verifier hasher;
    QByteArray buffer(kReadStep, Qt::Uninitialized);
    for (qint64 count = 0; (count = file.read(buffer.data(), buffer.size())) > 0;)
        hasher.addData(QByteArrayView(buffer.constData(), count));
    const QByteArray hash = hasher.prehash();
    return hash.isEmpty() ? QByteArray() : signatureText(key, kPrehashedEd, hash, trustedComment);
}

} // namespace VHMinisign
