#include "VHIniDocument.h"

namespace {

// The value as written after "=": a ";" outside quotes ends it, quotes are dropped.
QString valueText(const QString &raw)
{
    QString text;
    bool quoted = false;
    for (const QChar c : raw) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (c == QLatin1Char(';') && !quoted)
            break;
        else
            text.append(c);
    }
    return text.trimmed();
}

// QSettings quotes values with leading or trailing spaces and some characters, escaping with backslashes.
QString settingsUnquoted(const QString &value)
{
    if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) || !value.endsWith(QLatin1Char('"')))
        return value;
    QString text;
    const QString inner = value.mid(1, value.size() - 2);
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] == QLatin1Char('\\') && i + 1 < inner.size())
            ++i;
        text.append(inner[i]);
    }
    return text;
}

} // namespace

VHIniDocument::VHIniDocument(const QByteArray &bytes) : m_bytes(bytes) { parse(); }

void VHIniDocument::parse()
{
    QString group;
    qsizetype start = m_bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < m_bytes.size()) {
        const qsizetype newline = m_bytes.indexOf('\n', start);
        Line line;
        line.start = start;
        line.nextLine = newline < 0 ? m_bytes.size() : newline + 1;
        line.end = newline < 0 ? m_bytes.size() : newline;
        if (line.end > start && m_bytes.at(line.end - 1) == '\r')
            --line.end;
        const QString text = QString::fromUtf8(m_bytes.constData() + start, line.end - start).trimmed();
        if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']'))) {
            group = text.mid(1, text.size() - 2).trimmed();
            line.kind = LineKind::Group;
        } else if (!text.isEmpty() && !text.startsWith(QLatin1Char(';')) && !text.startsWith(QLatin1Char('#'))
                   && text.contains(QLatin1Char('='))) {
            const qsizetype equals = text.indexOf(QLatin1Char('='));
            line.kind = LineKind::Key;
            line.key = text.left(equals).trimmed();
            line.value = valueText(text.mid(equals + 1));
        }
        line.group = group;
        m_lines.append(line);
        start = line.nextLine;
    }
}

QStringList VHIniDocument::groups() const
{
    QStringList names;
    for (const Line &line : m_lines) {
        if (line.kind == LineKind::Group && !names.contains(line.group))
            names.append(line.group);
    }
    return names;
}

const VHIniDocument::Line *VHIniDocument::lastKeyLine(const QString &group, const QString &key) const
{
    const Line *found = nullptr;
    for (const Line &line : m_lines) {
        if (line.kind == LineKind::Key && line.group == group && line.key == key)
            found = &line;
    }
    return found;
}

bool VHIniDocument::contains(const QString &group, const QString &key) const
{
    return lastKeyLine(group, key) != nullptr;
}

QString VHIniDocument::value(const QString &group, const QString &key, const QString &defaultValue) const
{
    const Line *line = lastKeyLine(group, key);
    return line ? line->value : defaultValue;
}

QByteArray VHIniDocument::lineEnding() const
{
    return m_bytes.contains("\r\n") ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}

QByteArray VHIniDocument::withValue(const QString &group, const QString &key, const QString &value) const
{
    const QByteArray entry = key.toUtf8() + '=' + value.toUtf8();
    QByteArray text = m_bytes;
    if (const Line *line = lastKeyLine(group, key)) {
        if (line->value == value)
            return text;
        return text.replace(line->start, line->end - line->start, entry);
    }
    const QByteArray eol = lineEnding();
    for (const Line &line : m_lines) {
        if (line.kind != LineKind::Group || line.group != group)
            continue;
        // A header on the last line without an ending gets one before the new line.
        const bool ended = line.nextLine > line.end;
        return text.insert(line.nextLine, ended ? entry + eol : eol + entry);
    }
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += eol;
    return text + '[' + group.toUtf8() + ']' + eol + entry + eol;
}

QHash<QString, QString> vhSettingsTextValues(const QByteArray &bytes)
{
    QHash<QString, QString> values;
    QString group;
    for (const QByteArray &raw : bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const bool general = group.isEmpty() || group == QLatin1String("General");
        values.insert(general ? key : group + QLatin1Char('/') + key, settingsUnquoted(line.mid(equals + 1).trimmed()));
    }
    return values;
}
