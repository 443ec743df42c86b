#pragma once

#include <QString>
#include <QVariant>

// A small JSON reader for the update server's replies: objects become
// QVariantMap, arrays QVariantList, strings QString, numbers qlonglong (or
// qulonglong when too large) unless they hold a full stop, which makes them
// double; true/false are bool and null an invalid QVariant. Only the first
// complete value is read; what follows it is not examined.
//
// The reader never recurses deeper than kMaxDepth nested containers, so a
// hostile reply cannot exhaust the stack.
class JsonReader
{
public:
    static constexpr int kMaxDepth = 512;

    // A null text gives an invalid variant with ok true; any syntax error
    // (including an empty text) gives an invalid variant with ok false.
    static QVariant parse(const QString &text, bool &ok);
};
