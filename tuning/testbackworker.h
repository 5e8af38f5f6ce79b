#pragma once

#include "tuning/tuningrecords.h"

#include <QObject>
#include <QVector>

#include <cstdint>

// Runs the analysis of one step test in the tuning sequencer's analysis thread, on its
// own copies of the samples and the evaluation record; its only output is the signal.
// Created for each analysis and deleted when the thread finishes.
class TestBackWorker : public QObject
{
    Q_OBJECT

public:
    explicit TestBackWorker(QObject *parent = nullptr);

public slots:
    void calculateControllerParams(QVector<Test_Data_s> testData, Test_Evalute_s evaluateData);

signals:
    void controllerParamsCalcuclated(Test_Evalute_s evaluteData, int8_t result, float error);

private:
    QVector<Test_Data_s> m_testData;
    Test_Evalute_s m_evaluateData;
};
