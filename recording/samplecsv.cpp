#include "recording/samplecsv.h"

#include <QString>

namespace SampleCsv {

QByteArray header()
{
    return QByteArrayLiteral("Time,Speed,Torque,Is,Vs,Power,Temp \n");
}

QByteArray line(qint64 arrivalMs, const ONLINE_QUANTS_S &sample)
{
    const auto number = [](float value) { return QString::number(double(value), 'g', 6); };
    const QString text = QString::number(quint64(arrivalMs)) + QLatin1Char(',')
        + number(sample.Speed) + QLatin1Char(',')
        + number(sample.Torque) + QLatin1Char(',')
        + number(sample.Is) + QLatin1Char(',')
        + number(sample.Vs) + QLatin1Char(',')
        + number(sample.Power) + QLatin1Char(',')
        + QString::number(sample.Temp) + QLatin1Char('\n');
    return text.toLatin1();
}

} // namespace SampleCsv
