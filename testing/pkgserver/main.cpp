// velora-pkgserver: serves packages and assist data to the updater for tests
// and the demo. See VHPackageServer.h for the layout of the root folder.

#include "VHPackageServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <optional>

namespace {

// The --sign-key file (an unencrypted minisign secret key), or no key.
bool readSigningKey(const QCommandLineParser &args, std::optional<VHMinisign::SecretKey> &key)
{
    if (!args.isSet(QStringLiteral("sign-key")))
        return true;
    QFile file(args.value(QStringLiteral("sign-key")));
    VHMinisign::SecretKey read;
    const VHResult parsed = file.open(QIODevice::ReadOnly)
                                ? VHMinisign::parseSecretKey(file.read(VHMinisign::kMaxSignatureSize + 1), read)
                                : VHResult::failure(1, file.errorString());
    if (!parsed) {
        QTextStream(stderr) << "velora-pkgserver: --sign-key " << file.fileName() << ": " << parsed.reason << Qt::endl;
        return false;
    }
    key = read;
    return true;
}

int publishAndExit(const QCommandLineParser &args, const std::optional<VHMinisign::SecretKey> &key)
{
    QString error;
    if (!VHPackageServer::publish(args.value(QStringLiteral("root")), args.value(QStringLiteral("model")),
                                  args.value(QStringLiteral("publish")), args.value(QStringLiteral("version")),
                                  args.value(QStringLiteral("note")), &error, key ? &*key : nullptr)) {
        QTextStream(stderr) << "velora-pkgserver: " << error << Qt::endl;
        return 1;
    }
    return 0;
}

bool applyFaults(VHPackageServer &server, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const qsizetype equals = entry.lastIndexOf(QLatin1Char('='));
        const auto fault = equals > 0 ? faultFromName(entry.mid(equals + 1)) : std::nullopt;
        if (!fault) {
            QTextStream(stderr) << "velora-pkgserver: bad --fail " << entry
                                << " (PATH=none|http500|truncated|wrongmd5|slow|empty|nonjson|"
                                << "cutnolength|gzip|gzipcut|chunked|chunkedcut)" << Qt::endl;
            return false;
        }
        server.setFault(entry.left(equals), *fault);
    }
    return true;
}

bool applyTls(VHPackageServer &server, const QCommandLineParser &args)
{
    const bool certificate = args.isSet(QStringLiteral("tls-cert"));
    if (certificate != args.isSet(QStringLiteral("tls-key"))) {
        QTextStream(stderr) << "velora-pkgserver: --tls-cert and --tls-key go together" << Qt::endl;
        return false;
    }
    QString error;
    if (certificate
        && !server.setTls(args.value(QStringLiteral("tls-cert")), args.value(QStringLiteral("tls-key")), &error)) {
        QTextStream(stderr) << "velora-pkgserver: " << error << Qt::endl;
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    args.setApplicationDescription(QStringLiteral("Local update and assist-data server for VeloraUpdate."));
    args.addHelpOption();
    args.addOptions({
        {QStringLiteral("root"), QStringLiteral("Folder of model folders and .alp files."), QStringLiteral("folder")},
        {QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1; 0 chooses one."), QStringLiteral("n"),
         QStringLiteral("0")},
        {QStringLiteral("fail"), QStringLiteral("Misbehave on a request path (repeatable)."),
         QStringLiteral("path=fault")},
        {QStringLiteral("control"), QStringLiteral("File of \"<path> <fault>\" lines, read per request."),
         QStringLiteral("file")},
        {QStringLiteral("slow-ms"), QStringLiteral("Stall of a slow reply."), QStringLiteral("ms"),
         QStringLiteral("90000")},
        {QStringLiteral("rate-mib"), QStringLiteral("Pace file bodies at this many MiB/s (0: no limit)."),
         QStringLiteral("n"), QStringLiteral("0")},
        {QStringLiteral("publish"), QStringLiteral("Copy a package into <root>/<model> and exit."),
         QStringLiteral("zip")},
        {QStringLiteral("model"), QStringLiteral("Model for --publish."), QStringLiteral("name")},
        {QStringLiteral("version"), QStringLiteral("Version for --publish."), QStringLiteral("text")},
        {QStringLiteral("note"), QStringLiteral("Release note for --publish."), QStringLiteral("text")},
        {QStringLiteral("tls-cert"), QStringLiteral("Serve https with this PEM certificate (chain)."),
         QStringLiteral("file")},
        {QStringLiteral("tls-key"), QStringLiteral("The PEM private key of --tls-cert."), QStringLiteral("file")},
        {QStringLiteral("sign-key"),
         QStringLiteral("Sign what is published and served with this secret key (minisign, no password); "
                        "\"<file>.minisig\" is served beside each file."),
         QStringLiteral("file")},
    });
    args.process(app);
    if (!args.isSet(QStringLiteral("root"))) {
        QTextStream(stderr) << "velora-pkgserver: --root is required" << Qt::endl;
        return 2;
    }
    std::optional<VHMinisign::SecretKey> key;
    if (!readSigningKey(args, key))
        return 2;
    if (args.isSet(QStringLiteral("publish")))
        return publishAndExit(args, key);

    VHPackageServer server(args.value(QStringLiteral("root")));
    if (key)
        server.setSigningKey(*key);
    if (!applyFaults(server, args.values(QStringLiteral("fail"))))
        return 2;
    server.setControlFile(args.value(QStringLiteral("control")));
    server.setSlowPause(args.value(QStringLiteral("slow-ms")).toInt());
    server.setRateLimit(args.value(QStringLiteral("rate-mib")).toLongLong() * 1024 * 1024);
    if (!applyTls(server, args))
        return 2;
    bool portOk = false;
    const uint port = args.value(QStringLiteral("port")).toUInt(&portOk);
    if (!portOk || port > 65535 || !server.listen(quint16(port))) {
        QTextStream(stderr) << "velora-pkgserver: can not listen: " << server.errorString() << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << "velora-pkgserver: serving " << server.root() << " on " << server.baseUrl() << Qt::endl;
    return app.exec();
}
