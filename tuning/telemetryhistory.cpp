#include "tuning/telemetryhistory.h"

#include <QLocale>

#include <cmath>

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

int TelemetryHistory::decimalsOf(int quantity)
{
    switch (quantity) {
    case 1: // torque: 3 decimals as decoded
        return 3;
    case 3: // current and the two voltages: 1 decimal as decoded
    case 4:
    case 5:
        return 1;
    case 8: // resistance and flux: steps of 1/32768
    case 9:
        return 5;
    default: // speed in whole rpm, power, PWM input and temperature: integers
        return 0;
    }
}

QString TelemetryHistory::displayText(const ONLINE_QUANTS_S &sample, int quantity, const QLocale &locale)
{
    switch (quantity) {
    case 7:
        return locale.toString(sample.PWm_in_us);
    case 10:
        return locale.toString(sample.Temp);
    default: {
        // Fixed decimals: a float's last digits ("0.0599976") are noise, not precision.
        const int decimals = decimalsOf(quantity);
        const double value = quantityValue(sample, quantity);
        const double step = std::pow(10.0, -decimals);
        // A value that rounds to zero is shown without a sign.
        return locale.toString(std::abs(value) < step / 2 ? 0.0 : value, 'f', decimals);
    }
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
