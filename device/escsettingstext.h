#pragma once

#include "wire/records.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdint>

// The texts of the ESC settings page's diagnostic views, one string per appended line.
// Plain functions, so the exact wording can be checked without a window.
class EscSettingsText
{
    Q_DECLARE_TR_FUNCTIONS(EscSettingsText)

public:
    // Header line and one line per named bit, errors first, then warnings; a zero word
    // adds nothing, so two zero words give an empty list.
    static QStringList errorLogLines(uint32_t errors, uint32_t warnings);
    // Title and value line of each quantity of the last run.
    static QStringList runDataLines(const RUN_DATA &runData);
    // Title and value line of each phase resistance and of the global one.
    static QStringList resistanceLines(const RESISTANCE &resistance);
    // hh:mm:ss with every part zero-padded to at least two digits (hours may grow past 99).
    static QString motorHoursText(uint32_t seconds);

private:
    static void appendBits(QStringList &lines, const QString &title, uint32_t word,
                           const char *const *names, int nameCount);
};
