#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// An INI text read from bytes, the way the device and package files mean it:
// groups in file order, values as raw text ("COM=0,1,2" is one text; quotes
// are dropped, a ";" outside quotes starts a comment), a later key of the same
// group winning. Editing keeps every byte it does not change, so a file of
// the device keeps its comments, order and line endings.
class VHIniDocument
{
public:
    explicit VHIniDocument(const QByteArray &bytes = QByteArray());

    QByteArray bytes() const { return m_bytes; }
    // Every group once, in the order of its first header.
    QStringList groups() const;
    bool contains(const QString &group, const QString &key) const;
    QString value(const QString &group, const QString &key, const QString &defaultValue = QString()) const;

    // The text with `key`=`value` in `group`: the key's last line replaced, or
    // a new line right after the group's first header, or a new group at the
    // end; the line ending of the file is used. The same bytes when the value
    // is already there.
    QByteArray withValue(const QString &group, const QString &key, const QString &value) const;

private:
    enum class LineKind { Other, Group, Key };
    struct Line
    {
        qsizetype start = 0;
        qsizetype end = 0;      // the line's text ends here
        qsizetype nextLine = 0; // after its line ending
        LineKind kind = LineKind::Other;
        QString group; // the group this line belongs to (or opens)
        QString key;
        QString value;
    };

    void parse();
    const Line *lastKeyLine(const QString &group, const QString &key) const;
    QByteArray lineEnding() const;

    QByteArray m_bytes;
    QList<Line> m_lines;
};

// The values of a small INI text as QSettings writes it, flat: "Group/key", or "key" for keys outside a group
// and in [General]; a quoted value loses its quotes and backslash escapes. For files of our own simulator and
// tests, where QSettings would cache a rewritten file by path, size and second.
QHash<QString, QString> vhSettingsTextValues(const QByteArray &bytes);
