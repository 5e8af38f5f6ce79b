#pragma once

#include "wire/records.h"

#include <QByteArray>
#include <QString>

class QLocale;

#include <cstdint>
#include <vector>

// The samples of the current run as the control page received them, for saving them as
// a table. Holds the newest CAPACITY samples in storage taken once, so that a long run
// does not make the program grow.
class TelemetryHistory
{
public:
    static constexpr int CAPACITY = 12000; // 10 minutes at 20 samples per second

    struct Entry
    {
        uint32_t sampleNumber = 0; // since the run started, 1 for the first
        ONLINE_QUANTS_S sample;
    };

    TelemetryHistory();

    // A sample number below 2 starts a new run and drops the previous one.
    void append(uint32_t sampleNumber, const ONLINE_QUANTS_S &sample);
    void clear();
    int size() const { return m_size; }
    // Oldest first.
    Entry at(int index) const;

    // Comma-separated text: a header line naming each quantity with its unit, then one
    // line per sample, oldest first: time in seconds since the run started, then every
    // quantity as the control page shows it.
    QByteArray toCsv() const;

    // A value as the file keeps it ("." as decimal separator), and as the control page's
    // line edits show it in the locale's number format: with the decimals the controller
    // sends (decimalsOf), never a float's noise.
    static int decimalsOf(int quantity);
    static QString displayText(const ONLINE_QUANTS_S &sample, int quantity);
    static QString displayText(const ONLINE_QUANTS_S &sample, int quantity, const QLocale &locale);

private:
    std::vector<Entry> m_entries;
    int m_first = 0;
    int m_size = 0;
};
