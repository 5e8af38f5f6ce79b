#include "tuning/testbackworker.h"

#include "tuning/stepresponseanalysis.h"
#include "tuning/tuninglog.h"

TestBackWorker::TestBackWorker(QObject *parent) : QObject(parent)
{
    registerTuningMetaTypes();
}

void TestBackWorker::calculateControllerParams(QVector<Test_Data_s> testData, Test_Evalute_s evaluateData)
{
    m_testData = testData;
    m_evaluateData = evaluateData;
    tuningDebug("TEST_BACK_WORKER:") << "samples" << m_testData.size();
    const TuningVerdict verdict = StepResponseAnalysis::evaluate(m_testData, m_evaluateData);
    emit controllerParamsCalcuclated(verdict.evaluation, verdict.result, verdict.error);
}
