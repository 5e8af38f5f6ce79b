#pragma once

#include <QPointF>
#include <QString>
#include <QVector>

// The PWM input characteristic the controller applies: output (duty or speed) over the
// normalised input pulse, with the dead zone around the centre (bipolar) or at the low end
// (unipolar). Computed here so that the page's plot only draws it.
struct PwmCharacteristic
{
    bool valid = false;          // false: nothing to draw (speed control with a norm of 0)
    double yMin = 0;             // y axis range
    double yMax = 0;
    QString unit;                // "%" (voltage control) or "rpm" (speed control)
    QVector<QPointF> curve;      // one polyline in normalised input units
    QVector<double> referenceX;  // dashed vertical lines, each spanning yMin..yMax

    // bipolar: PWM type "Bipolar"; speedControl: control type "Speed"; speedNorm in rpm;
    // deadZone in percent of the input range.
    static PwmCharacteristic compute(bool bipolar, bool speedControl, int speedNorm, int deadZone);
};
