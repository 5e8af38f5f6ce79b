#include "tuning/stepresponseanalysis.h"

#include <QtTest>

#include <initializer_list>

namespace {

// A recording built step by step: each segment holds one duty with the speeds given.
class Recording
{
public:
    Recording &hold(int16_t duty, std::initializer_list<float> speeds)
    {
        for (float speed : speeds) {
            Test_Data_s sample;
            sample.Speed = speed;
            sample.Duty_Cycle = duty;
            m_samples.append(sample);
        }
        return *this;
    }
    // The speed reaches its new value within two samples and stays there.
    Recording &step(int16_t duty, float from, float to, int length = 10)
    {
        hold(duty, {from + (to - from) / 2, to});
        for (int i = 2; i < length; ++i)
            hold(duty, {to});
        return *this;
    }
    QVector<Test_Data_s> samples() const { return m_samples; }

private:
    QVector<Test_Data_s> m_samples;
};

// The plan's steps 10, 50, 90, 10 and 30 %, speed 100 rpm per percent, clean responses.
// The falling step and the speed at 90 % can be replaced.
QVector<Test_Data_s> planRecording(std::initializer_list<float> fallingStep = {}, float speedAt90 = 9000)
{
    Recording r;
    r.hold(0, {0, 0, 0}).step(10, 0, 1000).step(50, 1000, 5000).step(90, 5000, speedAt90);
    if (fallingStep.size() == 0)
        r.step(10, speedAt90, 1000);
    else
        r.hold(10, fallingStep);
    r.step(30, 1000, 3000, 3);
    return r.samples();
}

// The speed undershoots after the fall from 90 % to 10 % and rings before it settles.
const std::initializer_list<float> RINGING_FALL = {5000, 500, 1300, 1000, 1000, 1000, 1000, 1000, 1000, 1000};

Test_Evalute_s evaluation(uint16_t ki, uint8_t retryCount = 0, int32_t kiDelta = 0)
{
    Test_Evalute_s e;
    e.Kp = 500;
    e.Ki = ki;
    e.kiDelta = kiDelta;
    e.retryCount = retryCount;
    e.stepLen = 50;
    return e;
}

} // namespace

class TestStepResponseAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void verdicts_data()
    {
        QTest::addColumn<QVector<Test_Data_s>>("samples");
        QTest::addColumn<int>("retryCount");
        QTest::addColumn<int>("kiDelta");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("ki");          // -1: any value
        QTest::addColumn<int>("newRetryCount");
        QTest::addColumn<int>("stepLen");     // -1: any value

        const int any = -1;
        QTest::newRow("fewer than two duty changes: nothing to conclude")
            << Recording().hold(0, {0, 0, 0}).step(10, 0, 1000, 20).samples() << 0 << 0 << -1 << 100 << 0 << 50;
        QTest::newRow("a step that never moved: no speed per duty")
            << Recording().hold(0, {0, 0}).hold(10, {0, 0, 0, 0, 0, 0}).hold(30, {0, 0}).samples() << 0 << 0
            << -1 << 100 << 0 << 50;
        QTest::newRow("a step back to zero duty: no speed per duty")
            << Recording().hold(0, {0, 0}).step(10, 0, 1000).step(0, 1000, 0).hold(30, {0}).samples() << 0 << 0
            << -1 << 100 << 0 << 50;
        // One step (samples 3..11) without a peak: it settles only at its end, so the mean
        // settling time T is 8 samples and the mean error E is 0. The proposal is
        // (ln(1 / (0.5186103 e^(-T Ki / 1000) - E)) + 4.6417148) / T / 2, and with E = 0
        // (ln 200 / T + Ki / 1000) / 2 = (0.6622897 + 0.1) / 2 = 0.3811448: Ki 381.
        QTest::newRow("a step without peaks: the proposed Ki")
            << Recording().hold(0, {0, 0, 0}).hold(10, {1, 2, 3, 4, 5, 6, 7, 8}).hold(30, {9, 10}).samples() << 0 << 0
            << -1 << 381 << 0 << 50;
        QTest::newRow("clean response") << planRecording() << 2 << -10 << 0 << 100 << 0 << 2;
        // The falling step's response still moves when the recording ends: its settling
        // is not taken from samples that do not exist.
        QTest::newRow("last step cut short")
            << Recording().hold(0, {0, 0, 0}).step(10, 0, 1000).step(50, 1000, 5000).step(90, 5000, 9000)
                   .hold(10, {5000, 1000, 1000, 1000}).hold(30, {1000}).samples()
            << 0 << 0 << 0 << 100 << 0 << 4;
        QTest::newRow("only the falling step rings, first time") << planRecording(RINGING_FALL) << 0 << 0 << 3 << 90
                                                                 << 1 << 10;
        QTest::newRow("only the falling step rings, retry 1") << planRecording(RINGING_FALL) << 1 << -10 << 1 << 90
                                                              << 2 << 10;
        QTest::newRow("only the falling step rings, retry 3") << planRecording(RINGING_FALL) << 3 << -10 << 1 << 90
                                                              << 4 << 10;
        QTest::newRow("only the falling step rings, retry 4") << planRecording(RINGING_FALL) << 4 << -10 << -1 << any
                                                              << 5 << 10;
        QTest::newRow("non-linear speed: the factor 11") << planRecording(RINGING_FALL, 8000) << 0 << 0 << 33 << 90
                                                         << 1 << 10;
        QTest::newRow("a rising step rings: the proposed Ki")
            << Recording().hold(0, {0, 0, 0}).hold(10, {600, 1300, 900, 1000, 1000, 1000, 1000, 1000, 1000, 1000})
                   .step(50, 1000, 5000).step(90, 5000, 9000).step(10, 9000, 1000).step(30, 1000, 3000, 3).samples()
            << 2 << 0 << 1 << any << 0 << any;
    }

    void verdicts()
    {
        QFETCH(QVector<Test_Data_s>, samples);
        QFETCH(int, retryCount);
        QFETCH(int, kiDelta);
        QFETCH(int, result);
        QFETCH(int, ki);
        QFETCH(int, newRetryCount);
        QFETCH(int, stepLen);

        const Test_Evalute_s in = evaluation(100, uint8_t(retryCount), kiDelta);
        const TuningVerdict verdict = StepResponseAnalysis::evaluate(samples, in);
        QCOMPARE(int(verdict.result), result);
        if (ki >= 0)
            QCOMPARE(int(verdict.evaluation.Ki), ki);
        QCOMPARE(verdict.evaluation.kiDelta, int(verdict.evaluation.Ki) - 100);
        QCOMPARE(int(verdict.evaluation.retryCount), newRetryCount);
        if (stepLen >= 0)
            QCOMPARE(int(verdict.evaluation.stepLen), stepLen);
        QVERIFY(std::isfinite(verdict.error));
        // The gains and the trial count pass through untouched.
        QCOMPARE(verdict.evaluation.Kp, in.Kp);
        QCOMPARE(verdict.evaluation.trialCount, in.trialCount);
    }

    // A clean response measures no error; the ringing one measures the undershoot.
    void errorIsTheRelativeSpeedErrorAtTheValidPeaks()
    {
        QCOMPARE(StepResponseAnalysis::evaluate(planRecording(), evaluation(100)).error, 0.0f);
        const float ringing = StepResponseAnalysis::evaluate(planRecording(RINGING_FALL), evaluation(100)).error;
        QVERIFY2(ringing > 0.0f && ringing < 1.0f, qPrintable(QString::number(double(ringing))));
    }
};

QTEST_GUILESS_MAIN(TestStepResponseAnalysis)
#include "tst_stepresponseanalysis.moc"
