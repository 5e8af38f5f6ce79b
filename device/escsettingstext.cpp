#include "device/escsettingstext.h"

#include "ui/units.h"

namespace {

const QString VALUE_INDENT = QStringLiteral("    ");

} // namespace

QStringList EscSettingsText::errorLogLines(uint32_t errors, uint32_t warnings)
{
    QStringList lines;
    appendBits(lines, tr("Errors"), errors, ERROR_NAMES.data(), int(ERROR_NAMES.size()));
    appendBits(lines, tr("Warns"), warnings, WARNING_NAMES.data(), int(WARNING_NAMES.size()));
    return lines;
}

void EscSettingsText::appendBits(QStringList &lines, const QString &title, uint32_t word,
                                 const char *const *names, int nameCount)
{
    if (word == 0)
        return;
    lines.append(QStringLiteral("<b><u>%1</b> <i>(0x%2)</i></u>").arg(title, QString::number(word, 16)));
    // Bits above the named ones are shown in the header value only.
    for (int bit = 0; bit < nameCount; ++bit) {
        if (word & (uint32_t(1) << bit))
            lines.append(QCoreApplication::translate(RECORD_NAMES_CONTEXT, names[bit]));
    }
}

QStringList EscSettingsText::runDataLines(const RUN_DATA &runData)
{
    return {
        QStringLiteral("<u>%1</u>").arg(tr("Max temp ESC")),
        VALUE_INDENT + Units::withUnit(int(runData.maxTempEsc) - 50, 0, Units::DegreeCelsius),
        QStringLiteral("<u>%1</u>").arg(tr("Max temp Motor")),
        VALUE_INDENT + Units::withUnit(int(runData.maxTempMotor) - 50, 0, Units::DegreeCelsius),
        QStringLiteral("<u>%1</u>").arg(tr("Avg current")),
        VALUE_INDENT + Units::withUnit(runData.avgCurrent / 10.0, 1, Units::Ampere),
        QStringLiteral("<u>%1</u>").arg(tr("Max current")),
        VALUE_INDENT + Units::withUnit(runData.maxCurrent / 256.0, 1, Units::Ampere),
    };
}

QStringList EscSettingsText::resistanceLines(const RESISTANCE &resistance)
{
    const auto value = [](float ohm) { return VALUE_INDENT + Units::withUnit(double(ohm), 6, Units::Ohm); };
    return {
        QStringLiteral("<u>%1</u>").arg(tr("Phase A")), value(resistance.phaseA),
        QStringLiteral("<u>%1</u>").arg(tr("Phase B")), value(resistance.phaseB),
        QStringLiteral("<u>%1</u>").arg(tr("Phase C")), value(resistance.phaseC),
        QStringLiteral("<u>%1</u>").arg(tr("Global")), value(resistance.global),
    };
}

QString EscSettingsText::motorHoursText(uint32_t seconds)
{
    const QLatin1Char zero('0');
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, zero)
        .arg((seconds / 60) % 60, 2, 10, zero)
        .arg(seconds % 60, 2, 10, zero);
}
