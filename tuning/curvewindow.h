#pragma once

#include "wire/records.h"

#include <QPointF>
#include <QVector>

#include <cstdint>

// The points of one telemetry curve: the newest 50 samples of one quantity, placed on a
// time axis of 50 ms per sample since the run started.
class CurveWindow
{
public:
    static constexpr int CAPACITY = 50;
    static constexpr double SECONDS_PER_SAMPLE = 0.05;
    static constexpr int QUANTITY_NONE = 0;

    // Takes the newest sample; sampleNumber counts the samples since the run started
    // (1 for the first). The first sample of a run starts the curve afresh.
    void update(int quantity, const ONLINE_QUANTS_S &sample, uint32_t sampleNumber);
    void clear() { m_points.clear(); }

    const QVector<QPointF> &points() const { return m_points; }

    static double timeOfSample(uint32_t sampleNumber);

private:
    QVector<QPointF> m_points;
};
