// The device status files: the overview document of the batch action and the
// language list.

#include "VHClient.h"

#include "VHEnv.h"
#include "VHLog.h"
#include "VHSafeFolder.h"

#include <QDomDocument>
#include <QFile>

namespace {

QString intermediatePath(const char *name) { return VHEnv::instance()->tempFolder() + QLatin1String(name); }

void appendText(QDomDocument &doc, QDomElement &parent, const QString &tag, const QString &text)
{
    QDomElement element = doc.createElement(tag);
    element.appendChild(doc.createTextNode(text));
    parent.appendChild(element);
}

// The root element of an XML file, or a null element when the file is missing
// or does not parse.
QDomElement rootElementOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QDomDocument doc;
    if (!doc.setContent(&file))
        return {};
    return doc.documentElement();
}

void appendFileRoot(QDomDocument &doc, QDomElement &overview, const QString &path)
{
    const QDomElement root = rootElementOf(path);
    if (!root.isNull())
        overview.appendChild(doc.importNode(root, true));
}

} // namespace

bool VHClient::_batch()
{
    const QString datalistPath = intermediatePath("/datalist.xml");
    const QString profilePath = intermediatePath("/profile.xml");
    const QString langsPath = intermediatePath("/langs.xml");
    QFile::remove(profilePath);
    QFile::remove(langsPath);
    QFile::remove(datalistPath);

    QDomDocument doc;
    doc.appendChild(
        doc.createProcessingInstruction(QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement overview = doc.createElement(QStringLiteral("Overview"));
    doc.appendChild(overview);

    for (const int item : std::as_const(m_batchItems)) {
        switch (item) {
        case BatchDataList:
            m_shareDataListArgs = {datalistPath, QString(), QString()};
            _getShareDataList();
            appendFileRoot(doc, overview, datalistPath);
            break;
        case BatchDevice: {
            QString model, uuid, launch, image, ap;
            quint64 total = 0, free = 0;
            getModelName(model);
            getUUID(uuid);
            getLaunchSecVersion(launch);
            getImageVersion(image);
            getAPVersion(ap);
            getInternalStorage(total, free);
            QDomElement device = doc.createElement(QStringLiteral("Device"));
            appendText(doc, device, QStringLiteral("model"), model);
            appendText(doc, device, QStringLiteral("uuid"), uuid);
            appendText(doc, device, QStringLiteral("version_launch"), launch);
            appendText(doc, device, QStringLiteral("version_image"), image);
            appendText(doc, device, QStringLiteral("version_ap"), ap);
            appendText(doc, device, QStringLiteral("capacity_total"), QString::number(total));
            // A device reporting more free than total space shows nothing used
            // rather than a wrapped-around number.
            appendText(doc, device, QStringLiteral("capacity_used"), QString::number(total >= free ? total - free : 0));
            appendText(doc, device, QStringLiteral("state"), QStringLiteral("READY"));
            overview.appendChild(device);
            break;
        }
        case BatchComponents: {
            QDomElement components = doc.createElement(QStringLiteral("Components"));
            for (const QString &name : {QStringLiteral("CYCLEROAD"), QStringLiteral("GPST_ENGINE")}) {
                const QStringList pieces = getComponentVersion(name).split(QLatin1Char('|'));
                for (const QString &piece : pieces) {
                    const QStringList parts = piece.split(QLatin1Char('^'));
                    if (parts.size() != 2)
                        continue;
                    QDomElement entry = doc.createElement(QStringLiteral("item"));
                    appendText(doc, entry, QStringLiteral("name"), name);
                    appendText(doc, entry, QStringLiteral("drive"), parts.at(0));
                    appendText(doc, entry, QStringLiteral("version"), parts.at(1));
                    components.appendChild(entry);
                }
            }
            overview.appendChild(components);
            break;
        }
        case BatchProfile:
            prepareUploadProfile(profilePath);
            appendFileRoot(doc, overview, profilePath);
            break;
        case BatchLanguages:
            LanguageListXml(langsPath);
            appendFileRoot(doc, overview, langsPath);
            break;
        default:
            break;
        }
    }

    // Written whole under a temporary name, so a reader never sees half a document.
    QString error;
    if (!VHSafeFolder::replaceFile(m_shareDataArgs.first, doc.toByteArray(4), &error)) {
        vhCritical() << "can not open file: " << m_shareDataArgs.first << error;
        return false;
    }
    return true;
}

bool VHClient::LanguageListXml(const QString &path)
{
    QStringList languages;
    getLanguageOnDevice(languages);
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Language>\n";
    for (const QString &language : std::as_const(languages))
        text += "<lang>" + language.toHtmlEscaped().toUtf8() + "</lang>\n";
    text += "</Language>";
    // Whole or not at all: a list cut short by a full disk reads as fewer languages.
    QString error;
    if (!VHSafeFolder::replaceFile(path, text, &error)) {
        vhCritical() << "can not open file: " << path << error;
        return false;
    }
    return true;
}
