#include "tuning/curvewindow.h"

double CurveWindow::timeOfSample(uint32_t sampleNumber)
{
    return sampleNumber == 0 ? 0.0 : double(sampleNumber - 1) * SECONDS_PER_SAMPLE;
}

void CurveWindow::update(int quantity, const ONLINE_QUANTS_S &sample, uint32_t sampleNumber)
{
    if (sampleNumber < 2)
        m_points.clear(); // a new run: the old points belong to another time axis
    if (m_points.size() >= CAPACITY)
        m_points.removeFirst();
    if (quantity != QUANTITY_NONE)
        m_points.append(QPointF(timeOfSample(sampleNumber), quantityValue(sample, quantity)));
}
