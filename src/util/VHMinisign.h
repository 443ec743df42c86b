#pragma once

#include "VHResult.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCoreApplication>
#include <QString>

#include <memory>

class VHTrustedKeys;

// Detached Ed25519 signatures in the minisign format: a public key file, a
// "<file>.minisig" beside each signed file, and (for the package server and
// tests only) an unencrypted secret key file. Every parser is bounds-checked;
// a malformed file is a refusal with a reason.
namespace VHMinisign {

// The reasons a package is refused, in the user's language once a front end
// installed a translation (the command line keeps English).
inline QString inWords(const char *text) { return QCoreApplication::translate("VHMinisign", text); }
inline QString notSignedText() { return inWords("the package is not signed"); }
inline QString mismatchText() { return inWords("the package's signature does not match its contents"); }
inline QString unknownKeyText() { return inWords("the package is signed by an unknown key %1"); }
inline QString damagedText() { return inWords("the package's signature file is damaged"); }
inline QString commentChangedText() { return inWords("the signature's trusted comment was changed"); }

// The code a signature refusal carries (velora-devctl's "not authentic").
constexpr int kNotAuthentic = 9;
// A signature file longer than this is not read.
constexpr qsizetype kMaxSignatureSize = 4096;
constexpr qsizetype kKeySize = 32;
constexpr qsizetype kSecretSize = 64;
constexpr qsizetype kSignatureSize = 64;
inline const QString kSignatureSuffix = QStringLiteral(".minisig");

// The key id as minisign shows it: 16 upper-case hex digits of the
// little-endian number.
QString keyIdText(quint64 keyId);

struct PublicKey
{
    quint64 keyId = 0;
    QByteArray key; // 32 bytes
};

struct SecretKey
{
    quint64 keyId = 0;
    QByteArray secret; // 64 bytes, libsodium's form (seed and public key)
    PublicKey publicKey() const;
};

struct Signature
{
    bool prehashed = true; // "ED": BLAKE2b-512 of the file is signed; "Ed": the file itself
    quint64 keyId = 0;
    QByteArray signature;       // 64 bytes
    QByteArray trustedComment;  // the text after "trusted comment: "
    QByteArray globalSignature; // 64 bytes, over signature || trusted comment
};

// Each fails with a reason when the text is not exactly one such file.
VHResult parsePublicKey(const QByteArray &text, PublicKey &key);
VHResult parseSecretKey(const QByteArray &text, SecretKey &key);
VHResult parseSignature(const QByteArray &text, Signature &signature);

// Fed the file's bytes as they arrive; its BLAKE2b-512 state is what an "ED"
// signature is checked against. An "Ed" signature needs the whole file, so
// verify() reads it again from `path` then.
class Verifier
{
public:
    Verifier();
    ~Verifier();
    Verifier(const Verifier &) = delete;
    Verifier &operator=(const Verifier &) = delete;

    void addData(QByteArrayView bytes);
    // Checks `signatureText` (a whole ".minisig") against the bytes fed so far
    // with the trusted key it names. On success `trustedComment` holds its
    // trusted comment.
    VHResult verify(const QByteArray &signatureText, const VHTrustedKeys &keys, const QString &path,
                    QString *trustedComment = nullptr);
    // The BLAKE2b-512 of the bytes fed; ends the feeding (call it once).
    QByteArray prehash();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Reads `path` once and checks it against `signatureText`.
VHResult verifyFile(const QString &path, const QByteArray &signatureText, const VHTrustedKeys &keys,
                    QString *trustedComment = nullptr);

// Both signatures of one file whose BLAKE2b-512 or bytes are given, with a key
// already chosen; the trust decision is the caller's.
VHResult verifySignature(const Signature &signature, const PublicKey &key, QByteArrayView signedBytes);

// ---- signing: the package server and tests only ----

SecretKey generateKey();
QByteArray publicKeyText(const PublicKey &key, const QString &comment = QString());
// Unencrypted, as minisign reads it with no password.
QByteArray secretKeyText(const SecretKey &key, const QString &comment = QString());
// An "ED" signature of `bytes`.
QByteArray signBytes(const SecretKey &key, QByteArrayView bytes, const QString &trustedComment);
// An "ED" (or, with `legacy`, "Ed") signature of the file at `path`; empty when it can not be read.
QByteArray signFile(const SecretKey &key, const QString &path, const QString &trustedComment, bool legacy = false);

} // namespace VHMinisign
