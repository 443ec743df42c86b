#pragma once

// A device's user profile as a flat map of named value texts, translated from
// and to the device's storage by the reader its type names:
//   0 an XML settings file (the source is its path)
//   1, 2, 3 the Pacer30 family's profile block: obsolete, obsolete of the
//     Pulsar30, 1.0.x layout; 4 a further layout (unused)
// Any other type leaves it without a reader.

#include "VHProfileReader.h"

#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

class VHProfileData : public QObject
{
    Q_OBJECT

public:
    enum ReaderType { Xml = 0, PsfObsolete = 1, PsfObsoletePulsar30 = 2, Psf_1_0_0 = 3, Psf_2_0_0 = 4 };

    VHProfileData(const QByteArray &source, int readerType, QObject *parent = nullptr);

    bool hasReader() const { return !m_reader.isNull(); }
    // Replaces the map with what the source holds; on failure the map is empty.
    bool read();
    // Writes the map into the source: the file for type 0, else source().
    bool write();

    QString value(const QString &key) const { return m_values.value(key); }
    void setValue(const QString &key, const QString &value) { m_values.insert(key, value); }
    const VHProfileMap &values() const { return m_values; }
    const QByteArray &source() const { return m_source; }

    // The reader a Pacer30-family device's profile block is read with.
    static int readerTypeFor(const QString &model, const QByteArray &block);

    // "Today" for the birthday/age conversion; a null date restores the clock.
    static void setToday(const QDate &date);
    static QDate today();
    // An age in whole years as the birthday text "yyyy/01/01".
    static QString birthdayText(int age);
    // The age a "yyyy/MM/dd" birthday has today, within 0-255 (a birthday in
    // the future is 0, one more than 255 years back 255); -1 for other text.
    static int ageOf(const QString &birthday);

private:
    QByteArray m_source;
    QPointer<VHProfileReader> m_reader; // a child of this object
    VHProfileMap m_values;
};
