#include "JsonReader.h"

#include <QVariantList>
#include <QVariantMap>

#include <string_view>

namespace {

class Parser
{
public:
    explicit Parser(const QString &text) : m_text(text) {}

    QVariant readValue(int depth)
    {
        skipWhiteSpace();
        if (atEnd())
            return fail();
        switch (current().unicode()) {
        case '{':
            return readObject(depth + 1);
        case '[':
            return readArray(depth + 1);
        case '"':
            return readString();
        case 't':
            return readLiteral(u"true", QVariant(true));
        case 'f':
            return readLiteral(u"false", QVariant(false));
        case 'n':
            return readLiteral(u"null", QVariant());
        default:
            return isNumberCharacter(current()) ? readNumber() : fail();
        }
    }

    bool failed() const { return m_failed; }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar current() const { return m_text.at(m_pos); }

    QVariant fail()
    {
        m_failed = true;
        return {};
    }

    void skipWhiteSpace()
    {
        while (!atEnd()) {
            const char16_t c = current().unicode();
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                return;
            ++m_pos;
        }
    }

    // Skips white space and consumes `c` when it comes next.
    bool take(char16_t c)
    {
        skipWhiteSpace();
        if (atEnd() || current().unicode() != c)
            return false;
        ++m_pos;
        return true;
    }

    QVariant readObject(int depth)
    {
        if (depth > JsonReader::kMaxDepth)
            return fail();
        ++m_pos; // '{'
        QVariantMap map;
        if (take(u'}'))
            return map;
        do {
            skipWhiteSpace();
            if (atEnd() || current() != u'"')
                return fail();
            const QString key = readString().toString();
            if (m_failed || !take(u':'))
                return fail();
            const QVariant value = readValue(depth);
            if (m_failed)
                return {};
            map.insert(key, value);
        } while (take(u','));
        return take(u'}') ? QVariant(map) : fail();
    }

    QVariant readArray(int depth)
    {
        if (depth > JsonReader::kMaxDepth)
            return fail();
        ++m_pos; // '['
        QVariantList list;
        if (take(u']'))
            return list;
        do {
            const QVariant value = readValue(depth);
            if (m_failed)
                return {};
            list.append(value);
        } while (take(u','));
        return take(u']') ? QVariant(list) : fail();
    }

    QVariant readString()
    {
        ++m_pos; // opening quote
        QString out;
        while (!atEnd()) {
            const QChar c = m_text.at(m_pos++);
            if (c == u'"')
                return out;
            if (c != u'\\') {
                out.append(c);
                continue;
            }
            if (!readEscape(out))
                return fail();
        }
        return fail(); // unterminated
    }

    bool readEscape(QString &out)
    {
        if (atEnd())
            return false;
        const char16_t c = m_text.at(m_pos++).unicode();
        if (c == u'u')
            return readUnicodeEscape(out);
        // A simple escape letter and what it stands for, at the same place.
        static constexpr std::u16string_view kLetters = u"\"\\/bfnrt";
        static constexpr std::u16string_view kMeanings = u"\"\\/\b\f\n\r\t";
        const size_t at = kLetters.find(c);
        if (at == std::u16string_view::npos)
            return false;
        out.append(QChar(kMeanings[at]));
        return true;
    }

    // Four hexadecimal digits give one UTF-16 code unit; a surrogate pair
    // written as two escapes therefore comes out as the pair.
    bool readUnicodeEscape(QString &out)
    {
        if (m_text.size() - m_pos < 4)
            return false;
        bool ok = false;
        const uint unit = QStringView(m_text).mid(m_pos, 4).toUInt(&ok, 16);
        if (!ok || !isHexQuad(m_pos))
            return false;
        m_pos += 4;
        out.append(QChar(char16_t(unit)));
        return true;
    }

    // toUInt would accept a sign or white space; JSON wants exactly four digits.
    bool isHexQuad(qsizetype from) const
    {
        for (qsizetype i = from; i < from + 4; ++i) {
            if (!isHexDigit(m_text.at(i)))
                return false;
        }
        return true;
    }

    static bool isHexDigit(QChar c)
    {
        const char16_t u = c.unicode();
        return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
    }

    static bool isNumberCharacter(QChar c)
    {
        const char16_t u = c.unicode();
        return (u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.' || u == 'e' || u == 'E';
    }

    QVariant readNumber()
    {
        const qsizetype start = m_pos;
        while (!atEnd() && isNumberCharacter(current()))
            ++m_pos;
        const QStringView digits = QStringView(m_text).mid(start, m_pos - start);
        bool ok = false;
        if (!digits.contains(u'.')) {
            const qlonglong whole = digits.toLongLong(&ok);
            if (ok)
                return whole;
            const qulonglong large = digits.toULongLong(&ok);
            if (ok)
                return large;
        }
        // With a full stop, or an exponent form or magnitude no integer holds.
        const double value = digits.toDouble(&ok);
        return ok ? QVariant(value) : fail();
    }

    QVariant readLiteral(QStringView word, const QVariant &value)
    {
        if (QStringView(m_text).mid(m_pos, word.size()) != word)
            return fail();
        m_pos += word.size();
        return value;
    }

    const QString &m_text;
    qsizetype m_pos = 0;
    bool m_failed = false;
};

} // namespace

QVariant JsonReader::parse(const QString &text, bool &ok)
{
    ok = true;
    if (text.isNull())
        return {};
    Parser parser(text);
    const QVariant value = parser.readValue(0);
    ok = !parser.failed();
    return ok ? value : QVariant();
}
