#include "JsonReader.h"

#include <QTest>
#include <QVariantList>
#include <QVariantMap>

class TestJsonReader : public QObject
{
    Q_OBJECT

    static QVariant parseOk(const QString &text)
    {
        bool ok = false;
        const QVariant value = JsonReader::parse(text, ok);
        if (!ok)
            qWarning("unexpected parse failure of %s", qPrintable(text.left(80)));
        return ok ? value : QVariant(QStringLiteral("<failed>"));
    }

    static bool fails(const QString &text)
    {
        bool ok = true;
        const QVariant value = JsonReader::parse(text, ok);
        return !ok && !value.isValid();
    }

private slots:
    void stringEscapes_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "\"Total\""
                               << "Total";
        QTest::newRow("quote and backslash") << "\"a\\\"b\\\\c\""
                                             << "a\"b\\c";
        QTest::newRow("slash") << "\"http:\\/\\/host\\/p\""
                               << "http://host/p";
        QTest::newRow("controls") << "\"\\b\\f\\n\\r\\t\""
                                  << "\b\f\n\r\t";
        QTest::newRow("u escape") << "\"caf\\u00e9 \\u20AC\"" << QStringLiteral("caf\u00e9 \u20ac");
        QTest::newRow("surrogate pair") << "\"\\ud83d\\ude00\"" << QString::fromUcs4(U"\U0001F600");
        QTest::newRow("raw utf-16 kept") << QStringLiteral("\"L\u00e4ufer\"") << QStringLiteral("L\u00e4ufer");
        QTest::newRow("empty") << "\"\""
                               << "";
    }
    void stringEscapes()
    {
        QFETCH(QString, json);
        QFETCH(QString, expected);
        const QVariant value = parseOk(json);
        QCOMPARE(value.typeId(), int(QMetaType::QString));
        QCOMPARE(value.toString(), expected);
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<int>("type");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("integer") << "42" << int(QMetaType::LongLong) << QVariant(qlonglong(42));
        QTest::newRow("negative") << "-7" << int(QMetaType::LongLong) << QVariant(qlonglong(-7));
        QTest::newRow("large integer stays exact")
            << "9007199254740993" << int(QMetaType::LongLong) << QVariant(qlonglong(9007199254740993LL));
        QTest::newRow("beyond qlonglong")
            << "18446744073709551615" << int(QMetaType::ULongLong) << QVariant(qulonglong(18446744073709551615ULL));
        QTest::newRow("full stop makes floating") << "2.0" << int(QMetaType::Double) << QVariant(2.0);
        QTest::newRow("fraction and exponent") << "-1.5e2" << int(QMetaType::Double) << QVariant(-150.0);
        QTest::newRow("exponent without stop") << "1E3" << int(QMetaType::Double) << QVariant(1000.0);
    }
    void numbers()
    {
        QFETCH(QString, json);
        QFETCH(int, type);
        QFETCH(QVariant, expected);
        const QVariant value = parseOk(json);
        QCOMPARE(value.typeId(), type);
        QCOMPARE(value, expected);
    }

    void numberAsTextKeepsItsForm()
    {
        // The client takes "version": 2 as the text "2"; an integer must not
        // come back as "2.0" or "2e+00".
        QCOMPARE(parseOk(QStringLiteral("[2]")).toList().value(0).toString(), QStringLiteral("2"));
        QCOMPARE(parseOk(QStringLiteral("[3.5]")).toList().value(0).toString(), QStringLiteral("3.5"));
    }

    void literalsAndEmptyDocuments()
    {
        QCOMPARE(parseOk(QStringLiteral("true")), QVariant(true));
        QCOMPARE(parseOk(QStringLiteral("false")), QVariant(false));
        // "null" and a null text are documents without a value, not failures.
        for (const QString &text : {QStringLiteral("null"), QString()}) {
            bool ok = false;
            QVERIFY(!JsonReader::parse(text, ok).isValid());
            QVERIFY(ok);
        }
    }

    void nestingAndWhiteSpace()
    {
        const QVariant value = parseOk(QStringLiteral(" \r\n\t{ \"a\" : [ 1 , { \"b\" : [ ] } ] , \"c\" : { } , "
                                                      "\"a2\":\"x\" }"));
        const QVariantMap top = value.toMap();
        QCOMPARE(top.size(), 3);
        const QVariantList a = top.value(QStringLiteral("a")).toList();
        QCOMPARE(a.size(), 2);
        QCOMPARE(a[0], QVariant(qlonglong(1)));
        QCOMPARE(a[1].toMap().value(QStringLiteral("b")).typeId(), int(QMetaType::QVariantList));
        QVERIFY(a[1].toMap().value(QStringLiteral("b")).toList().isEmpty());
        QCOMPARE(top.value(QStringLiteral("c")).typeId(), int(QMetaType::QVariantMap));
        QCOMPARE(top.value(QStringLiteral("a2")).toString(), QStringLiteral("x"));
    }

    void duplicateKeyTakesTheLastValue()
    {
        QCOMPARE(parseOk(QStringLiteral("{\"v\":\"1\",\"v\":\"2\"}")).toMap().value(QStringLiteral("v")).toString(),
                 QStringLiteral("2"));
    }

    void textAfterTheFirstValueIsIgnored_data()
    {
        QTest::addColumn<QString>("json");
        QTest::newRow("words") << "[1] trailing words";
        QTest::newRow("second value") << "{}{\"a\":1}";
        QTest::newRow("stray bracket") << "[]]";
        QTest::newRow("broken rest") << "\"ok\" [\"unterminated";
    }
    void textAfterTheFirstValueIsIgnored()
    {
        QFETCH(QString, json);
        bool ok = false;
        const QVariant value = JsonReader::parse(json, ok);
        QVERIFY(ok);
        QVERIFY(value.isValid());
    }

    void malformedTextFails_data()
    {
        QTest::addColumn<QString>("json");
        QTest::newRow("empty text") << QString(QLatin1String(""));
        QTest::newRow("only white space") << " \n\t ";
        QTest::newRow("unterminated string") << "\"abc";
        QTest::newRow("unterminated in array") << "[\"abc]";
        QTest::newRow("backslash at end") << "\"abc\\";
        QTest::newRow("unknown escape") << "\"\\x41\"";
        QTest::newRow("short u escape") << "\"\\u12\"";
        QTest::newRow("bad hex digit") << "\"\\u12G4\"";
        QTest::newRow("signed hex") << "\"\\u+123\"";
        QTest::newRow("missing comma in array") << "[1 2]";
        QTest::newRow("missing colon") << "{\"a\" 1}";
        QTest::newRow("missing comma in object") << "{\"a\":1 \"b\":2}";
        QTest::newRow("trailing comma") << "[1,]";
        QTest::newRow("empty member") << "{,}";
        QTest::newRow("unclosed array") << "[1, 2";
        QTest::newRow("unclosed object") << "{\"a\":1";
        QTest::newRow("key not a string") << "{1:2}";
        QTest::newRow("bare word") << "Total";
        QTest::newRow("broken literal") << "tru";
        QTest::newRow("not a number") << "+-";
        QTest::newRow("two stops") << "1.2.3";
        QTest::newRow("html") << "<html><body>Service Unavailable</body></html>";
    }
    void malformedTextFails()
    {
        QFETCH(QString, json);
        QVERIFY(fails(json));
    }

    void nestingDepthIsCapped()
    {
        const int limit = JsonReader::kMaxDepth;
        const QString atLimit = QString(limit, QLatin1Char('[')) + QString(limit, QLatin1Char(']'));
        QVERIFY(parseOk(atLimit).isValid());
        const QString beyond = QString(limit + 1, QLatin1Char('[')) + QString(limit + 1, QLatin1Char(']'));
        QVERIFY(fails(beyond));
        QString mixed;
        for (int i = 0; i <= limit; ++i)
            mixed += QStringLiteral("{\"k\":");
        QVERIFY(fails(mixed + QStringLiteral("1") + QString(limit + 1, QLatin1Char('}'))));
    }

    void hostileLargeBodies()
    {
        const qsizetype size = 50 * 1024 * 1024;
        // Deep nesting far beyond the cap ends quickly instead of overflowing the stack.
        QVERIFY(fails(QString(size, QLatin1Char('['))));
        // A 50 MiB string is plain data.
        QString big(size, QLatin1Char('a'));
        big[0] = QLatin1Char('"');
        big[size - 1] = QLatin1Char('"');
        QCOMPARE(parseOk(big).toString().size(), size - 2);
        // And unterminated it fails without reading past the end.
        big[size - 1] = QLatin1Char('a');
        QVERIFY(fails(big));
    }
};

QTEST_GUILESS_MAIN(TestJsonReader)
#include "tst_JsonReader.moc"
