#include "tuning/curvewindow.h"
#include "tuning/dutycontrol.h"
#include "tuning/telemetryhistory.h"

#include <QtTest>

// The control page's rules apart from its widgets: the 50-point curve window, the dead
// band, the toggling walk and the sample table.
class TestControlCore : public QObject
{
    Q_OBJECT

    static ONLINE_QUANTS_S sampleWithSpeed(float speed)
    {
        ONLINE_QUANTS_S s;
        s.Speed = speed;
        s.Torque = speed / 1000;
        return s;
    }

private slots:
    void curveWindowKeepsTheNewestFiftyPoints()
    {
        CurveWindow curve;
        for (uint32_t n = 1; n <= 120; ++n)
            curve.update(2, sampleWithSpeed(float(n)), n);
        QCOMPARE(curve.points().size(), CurveWindow::CAPACITY);
        QCOMPARE(curve.points().first(), QPointF(70 * 0.05, 71));
        QCOMPARE(curve.points().last(), QPointF(119 * 0.05, 120));
    }

    void curveWindowFollowsItsQuantity_data()
    {
        QTest::addColumn<int>("quantity");
        QTest::addColumn<double>("value");
        ONLINE_QUANTS_S s;
        QTest::newRow("torque") << 1 << double(0.125f);
        QTest::newRow("speed") << 2 << 12500.0;
        QTest::newRow("pwm, unsigned") << 7 << 1500.0;
        QTest::newRow("temp, signed") << 10 << -31.0;
    }

    void curveWindowFollowsItsQuantity()
    {
        QFETCH(int, quantity);
        ONLINE_QUANTS_S s;
        s.Torque = 0.125f;
        s.Speed = 12500;
        s.PWm_in_us = 1500;
        s.Temp = -31;
        CurveWindow curve;
        curve.update(quantity, s, 7);
        QCOMPARE(curve.points().size(), 1);
        QCOMPARE(curve.points().first().x(), 0.3);
        QTEST(curve.points().first().y(), "value");
    }

    void noneAddsNoPointsAndANewRunStartsAfresh()
    {
        CurveWindow curve;
        for (uint32_t n = 1; n <= 10; ++n)
            curve.update(2, sampleWithSpeed(100), n);
        curve.update(CurveWindow::QUANTITY_NONE, sampleWithSpeed(100), 11);
        QCOMPARE(curve.points().size(), 10);

        curve.update(2, sampleWithSpeed(5), 1); // the first sample of the next run
        QCOMPARE(curve.points(), QVector<QPointF>{QPointF(0, 5)});
        curve.update(CurveWindow::QUANTITY_NONE, sampleWithSpeed(5), 1);
        QVERIFY(curve.points().isEmpty());
    }

    void deadBand_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("deadBand");
        QTest::addColumn<int>("sent");
        for (int v = -2; v <= 2; ++v)
            QTest::addRow("%d in band 3", v) << v << 3 << 0;
        QTest::newRow("3 at band 3") << 3 << 3 << 3;
        QTest::newRow("-3 at band 3") << -3 << 3 << -3;
        QTest::newRow("band 0 passes 0") << 0 << 0 << 0;
        QTest::newRow("band 0 passes 1") << 1 << 0 << 1;
        QTest::newRow("band 100 holds 99") << -99 << 100 << 0;
        QTest::newRow("band 100 passes 100") << 100 << 100 << 100;
    }

    void deadBand()
    {
        QFETCH(int, percent);
        QFETCH(int, deadBand);
        QTEST(DutyControl::afterDeadBand(percent, deadBand), "sent");
    }

    void toggleWalkStaysInRangeAndEnds_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::newRow("middle") << 50 << 11 << 89;
        QTest::newRow("zero") << 0 << 11 << 49;
        QTest::newRow("top") << 100 << 50 << 89;
        QTest::newRow("-38: one step reaches 11") << -38 << 11 << 11;
        // No step of -50..+49 lands in 11..89: the walk goes to the nearest bound.
        QTest::newRow("-39") << -39 << 11 << 11;
        QTest::newRow("-100") << -100 << 11 << 11;
    }

    void toggleWalkStaysInRangeAndEnds()
    {
        QFETCH(int, start);
        QFETCH(int, low);
        QFETCH(int, high);
        QRandomGenerator random(7);
        int seenLow = 1000;
        int seenHigh = -1000;
        for (int i = 0; i < 2000; ++i) {
            const int next = DutyControl::nextToggleDuty(start, random);
            seenLow = qMin(seenLow, next);
            seenHigh = qMax(seenHigh, next);
        }
        QCOMPARE(seenLow, low);
        QCOMPARE(seenHigh, high);
    }

    void historyCsvHoldsEveryQuantityAsShown()
    {
        TelemetryHistory history;
        ONLINE_QUANTS_S s;
        s.Torque = -0.5f;
        s.Speed = 1234567;
        s.Is = 10;
        s.Vbus = 25.1f;
        s.Vs = 12.5f;
        s.Power = 250;
        s.Rs = 0.01f;
        s.Flux = 0.0078125f;
        s.Temp = -31;
        s.PWm_in_us = 1500;
        history.append(1, ONLINE_QUANTS_S());
        history.append(2, s);
        const QList<QByteArray> lines = history.toCsv().split('\n');
        QCOMPARE(lines.size(), 4); // header, two samples, the empty end
        QCOMPARE(QString::fromUtf8(lines[0]), QStringLiteral("Time [s],Torque [Nm],Speed [rpm],I [A],V-Dc [V],V [V],"
                                                             "Power [W],Pwm [us],Rs [Ohm],Flux [V/Hz],Temp [°C]"));
        QCOMPARE(lines[1], QByteArray("0.00,0.000,0,0.0,0.0,0.0,0,0,0.00000,0.00000,0"));
        QCOMPARE(lines[2], QByteArray("0.05,-0.500,1234567,10.0,25.1,12.5,250,1500,0.01000,0.00781,-31"));
        QVERIFY(lines[3].isEmpty());
    }

    // Values as the controller sends them, shown with the decimals they have, not with a
    // float's noise; in the locale's number format on the page.
    void valuesAreShownWithTheirOwnPrecision_data()
    {
        QTest::addColumn<int>("quantity");
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("shown");
        QTest::newRow("resistance step") << 8 << 1966.0f / 32768.0f << "C" << "0.06000";
        QTest::newRow("resistance in German") << 8 << 1966.0f / 32768.0f << "de_DE" << "0,06000";
        QTest::newRow("flux") << 9 << 3277.0f / 32768.0f << "C" << "0.10001";
        QTest::newRow("torque") << 1 << 0.123f << "C" << "0.123";
        QTest::newRow("current") << 3 << 10.3f << "C" << "10.3";
        QTest::newRow("bus voltage") << 4 << 25.1f << "de_DE" << "25,1";
        QTest::newRow("speed") << 2 << 9791.0f << "de_DE" << "9791";
        QTest::newRow("power") << 6 << 250.0f << "C" << "250";
        QTest::newRow("small negative torque has no sign") << 1 << -0.0004f << "C" << "0.000";
    }
    void valuesAreShownWithTheirOwnPrecision()
    {
        QFETCH(int, quantity);
        QFETCH(float, value);
        QFETCH(QString, language);
        QFETCH(QString, shown);
        ONLINE_QUANTS_S sample;
        switch (quantity) {
        case 1: sample.Torque = value; break;
        case 2: sample.Speed = value; break;
        case 3: sample.Is = value; break;
        case 4: sample.Vbus = value; break;
        case 6: sample.Power = value; break;
        case 8: sample.Rs = value; break;
        case 9: sample.Flux = value; break;
        default: QFAIL("no such quantity in this table");
        }
        QLocale locale(language);
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        QCOMPARE(TelemetryHistory::displayText(sample, quantity, locale), shown);
    }

    void historyKeepsTheNewestAndRestartsWithARun()
    {
        TelemetryHistory history;
        const int total = TelemetryHistory::CAPACITY + 10;
        for (int n = 1; n <= total; ++n)
            history.append(uint32_t(n), sampleWithSpeed(float(n)));
        QCOMPARE(history.size(), TelemetryHistory::CAPACITY);
        QCOMPARE(history.at(0).sampleNumber, 11u);
        QCOMPARE(history.at(0).sample.Speed, 11.0f);
        QCOMPARE(history.at(history.size() - 1).sampleNumber, uint32_t(total));

        history.append(1, sampleWithSpeed(3));
        QCOMPARE(history.size(), 1);
        QCOMPARE(history.at(0).sample.Speed, 3.0f);
    }
};

QTEST_GUILESS_MAIN(TestControlCore)
#include "tst_controlcore.moc"
