#include "VHProfileData.h"

#include "VHProfileLayout.h"

#include <QMutex>

#include <algorithm>

namespace {

QMutex s_todayMutex;
QDate s_today; // null: the system clock

VHProfileReader *newReader(int type, QObject *parent)
{
    switch (type) {
    case VHProfileData::Xml:
        return new VHProfileReaderXML(parent);
    case VHProfileData::PsfObsolete:
        return new VHProfileReaderPSF_Obsolete(parent);
    case VHProfileData::PsfObsoletePulsar30:
        return new VHProfileReaderPSF_Obsolete_Pulsar30(parent);
    case VHProfileData::Psf_1_0_0:
        return new VHProfileReaderPSF_1_0_0(parent);
    case VHProfileData::Psf_2_0_0:
        return new VHProfileReaderPSF_2_0_0(parent);
    default:
        return nullptr;
    }
}

} // namespace

VHProfileData::VHProfileData(const QByteArray &source, int readerType, QObject *parent)
    : QObject(parent), m_source(source), m_reader(newReader(readerType, this))
{}

bool VHProfileData::read()
{
    m_values.clear();
    if (!m_reader)
        return false;
    VHProfileMap found;
    if (!m_reader->read(m_source, found))
        return false;
    m_values = found;
    return true;
}

bool VHProfileData::write() { return m_reader && m_reader->write(m_source, m_values); }

int VHProfileData::readerTypeFor(const QString &model, const QByteArray &block)
{
    if (model == QLatin1String("Pulsar30"))
        return PsfObsoletePulsar30;
    if (model == QLatin1String("Pacer30") || model == QLatin1String("Pacer35"))
        return PsfObsolete;
    const qsizetype at = VHProfileLayout::kLayoutVersionOffset;
    if (block.size() > at + 2 && block[at] == 1 && block[at + 1] == 0 && quint8(block[at + 2]) <= 2)
        return Psf_1_0_0;
    return PsfObsolete;
}

void VHProfileData::setToday(const QDate &date)
{
    QMutexLocker lock(&s_todayMutex);
    s_today = date;
}

QDate VHProfileData::today()
{
    QMutexLocker lock(&s_todayMutex);
    return s_today.isValid() ? s_today : QDate::currentDate();
}

QString VHProfileData::birthdayText(int age)
{
    return QStringLiteral("%1/01/01").arg(today().year() - age, 4, 10, QLatin1Char('0'));
}

int VHProfileData::ageOf(const QString &birthday)
{
    const QDate born = QDate::fromString(birthday, QStringLiteral("yyyy/MM/dd"));
    if (!born.isValid())
        return -1;
    const QDate now = today();
    int age = now.year() - born.year();
    // Not yet this year's birthday: one year less.
    if (now.month() < born.month() || (now.month() == born.month() && now.day() < born.day()))
        --age;
    // Stored in one byte: never a wrapped value.
    return std::clamp(age, 0, 255);
}
