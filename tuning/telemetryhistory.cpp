#include "tuning/telemetryhistory.h"

#include <QLocale>

#include "tuning/curvewindow.h"

TelemetryHistory::TelemetryHistory() : m_entries(CAPACITY)
{
}

void TelemetryHistory::append(uint32_t sampleNumber, const ONLINE_QUANTS_S &sample)
{
    if (sampleNumber < 2)
        clear();
    if (m_size < CAPACITY) {
        m_entries[size_t((m_first + m_size) % CAPACITY)] = {sampleNumber, sample};
        ++m_size;
        return;
    }
    m_entries[size_t(m_first)] = {sampleNumber, sample};
    m_first = (m_first + 1) % CAPACITY;
}

void TelemetryHistory::clear()
{
    m_first = 0;
    m_size = 0;
}

TelemetryHistory::Entry TelemetryHistory::at(int index) const
{
    return m_entries[size_t((m_first + index) % CAPACITY)];
}

QString TelemetryHistory::displayText(const ONLINE_QUANTS_S &sample, int quantity)
{
    return displayText(sample, quantity, QLocale::c());
}

QString TelemetryHistory::displayText(const ONLINE_QUANTS_S &sample, int quantity, const QLocale &locale)
{
    switch (quantity) {
    case 7:
        return locale.toString(sample.PWm_in_us);
    case 10:
        return locale.toString(sample.Temp);
    default:
        return locale.toString(quantityValue(sample, quantity), 'g', 6);
    }
}

QByteArray TelemetryHistory::toCsv() const
{
    const int quantities = int(QUANTITY_NAMES.size());
    QString text = QStringLiteral("Time [s]");
    for (int q = 1; q < quantities; ++q)
        text += QStringLiteral(",%1 [%2]").arg(QLatin1String(QUANTITY_NAMES[size_t(q)]),
                                               QString::fromUtf8(QUANTITY_UNITS[size_t(q)]));
    text += QLatin1Char('\n');
    for (int i = 0; i < m_size; ++i) {
        const Entry entry = at(i);
        text += QString::number(CurveWindow::timeOfSample(entry.sampleNumber), 'f', 2);
        for (int q = 1; q < quantities; ++q)
            text += QLatin1Char(',') + displayText(entry.sample, q);
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
}
