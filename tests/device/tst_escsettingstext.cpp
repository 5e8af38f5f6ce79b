#include "device/escsettingstext.h"
#include "device/pwmcharacteristic.h"

#include <QtTest>

// The texts of the diagnostic views and the PWM input characteristic, without a window.
class TestEscSettingsText : public QObject
{
    Q_OBJECT

private slots:
    void errorLogLines_data()
    {
        QTest::addColumn<quint32>("errors");
        QTest::addColumn<quint32>("warnings");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("nothing") << 0u << 0u << QStringList();
        QTest::newRow("hw and valid data") << 0x0101u << 0u
                                           << QStringList {"<b><u>Errors</b> <i>(0x101)</i></u>", "Hw", "Valid data"};
        QTest::newRow("last error bit") << 0x8000u << 0u
                                        << QStringList {"<b><u>Errors</b> <i>(0x8000)</i></u>", "DRV setup"};
        QTest::newRow("unnamed bits only in the header") << 0x10000u << 0u
                                                         << QStringList {"<b><u>Errors</b> <i>(0x10000)</i></u>"};
        QTest::newRow("errors then warnings")
            << 0x4u << 0x5u
            << QStringList {"<b><u>Errors</b> <i>(0x4)</i></u>", "Undervoltage", "<b><u>Warns</b> <i>(0x5)</i></u>",
                            "Overtemp ESC", "Motor stop"};
    }
    void errorLogLines()
    {
        QFETCH(quint32, errors);
        QFETCH(quint32, warnings);
        QFETCH(QStringList, lines);
        QCOMPARE(EscSettingsText::errorLogLines(errors, warnings), lines);
    }

    void runDataLines()
    {
        RUN_DATA data;
        data.maxTempEsc = 75;     // 25 degrees
        data.maxTempMotor = 40;   // -10 degrees
        data.avgCurrent = 123;    // 12.3 A
        data.maxCurrent = 2637;   // 10.30 A, shown with one decimal
        const QStringList expected {
            "<u>Max temp ESC</u>", QString::fromUtf8("    25 \u00B0C"),
            "<u>Max temp Motor</u>", QString::fromUtf8("    -10 \u00B0C"),
            "<u>Avg current</u>", "    12.3 A",
            "<u>Max current</u>", "    10.3 A",
        };
        QCOMPARE(EscSettingsText::runDataLines(data), expected);
    }

    void resistanceLines()
    {
        RESISTANCE r;
        r.phaseA = 0.0625f;
        r.phaseB = 1.5f;
        r.phaseC = 0.0f;
        r.global = 12.25f;
        const QStringList expected {"<u>Phase A</u>", QString::fromUtf8("    0.062500 \u03A9"),
                                    "<u>Phase B</u>", QString::fromUtf8("    1.500000 \u03A9"),
                                    "<u>Phase C</u>", QString::fromUtf8("    0.000000 \u03A9"),
                                    "<u>Global</u>", QString::fromUtf8("    12.250000 \u03A9")};
        QCOMPARE(EscSettingsText::resistanceLines(r), expected);
    }

    void motorHours_data()
    {
        QTest::addColumn<quint32>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0u << "00:00:00";
        QTest::newRow("one of each") << 90061u << "25:01:01";
        QTest::newRow("hundred hours") << 360000u << "100:00:00";
        QTest::newRow("largest count") << 0xFFFFFFFFu << "1193046:28:15";
    }
    void motorHours()
    {
        QFETCH(quint32, seconds);
        QFETCH(QString, text);
        QCOMPARE(EscSettingsText::motorHoursText(seconds), text);
    }

    void pwmCharacteristic_data()
    {
        QTest::addColumn<bool>("bipolar");
        QTest::addColumn<bool>("speedControl");
        QTest::addColumn<int>("speedNorm");
        QTest::addColumn<int>("deadZone");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("yMin");
        QTest::addColumn<double>("yMax");
        QTest::addColumn<QVector<double>>("referenceX");
        QTest::addColumn<QVector<QPointF>>("curve");

        QTest::newRow("bipolar voltage, dead zone 15")
            << true << false << 0 << 15 << "%" << -100.0 << 100.0 << QVector<double> {-1, 0, 1}
            << QVector<QPointF> {{-1.0001, -100}, {-1, -100}, {-0.15, -15}, {-0.15, 0},
                                 {0.15, 0}, {0.15, 15}, {1, 100}, {1.0001, 100}};
        QTest::newRow("unipolar voltage, dead zone 15")
            << false << false << 0 << 15 << "%" << 0.0 << 100.0 << QVector<double> {0, 1}
            << QVector<QPointF> {{-0.0001, 0}, {0, 0}, {0.15, 0}, {0.15, 15}, {1, 100}, {1.0001, 100}};
        QTest::newRow("unipolar speed 3000 rpm, dead zone 10")
            << false << true << 3000 << 10 << "rpm" << 0.0 << 3000.0 << QVector<double> {0, 1}
            << QVector<QPointF> {{-0.0001, 0}, {0, 0}, {0.1, 0}, {0.1, 300}, {1, 3000}, {1.0001, 3000}};
        QTest::newRow("bipolar speed, no dead zone")
            << true << true << 1000 << 0 << "rpm" << -1000.0 << 1000.0 << QVector<double> {-1, 0, 1}
            << QVector<QPointF> {{-1.0001, -1000}, {-1, -1000}, {0, 0}, {0, 0},
                                 {0, 0}, {0, 0}, {1, 1000}, {1.0001, 1000}};
    }
    void pwmCharacteristic()
    {
        QFETCH(bool, bipolar);
        QFETCH(bool, speedControl);
        QFETCH(int, speedNorm);
        QFETCH(int, deadZone);
        QFETCH(QString, unit);
        QFETCH(double, yMin);
        QFETCH(double, yMax);
        QFETCH(QVector<double>, referenceX);
        QFETCH(QVector<QPointF>, curve);

        const PwmCharacteristic c = PwmCharacteristic::compute(bipolar, speedControl, speedNorm, deadZone);
        QVERIFY(c.valid);
        QCOMPARE(c.unit, unit);
        QCOMPARE(c.yMin, yMin);
        QCOMPARE(c.yMax, yMax);
        QCOMPARE(c.referenceX, referenceX);
        QCOMPARE(c.curve.size(), curve.size());
        for (int i = 0; i < curve.size(); ++i) {
            QVERIFY2(qAbs(c.curve[i].x() - curve[i].x()) < 1e-9 && qAbs(c.curve[i].y() - curve[i].y()) < 1e-9,
                     qPrintable(QStringLiteral("point %1: (%2, %3)").arg(i).arg(c.curve[i].x()).arg(c.curve[i].y())));
        }
    }

    void speedControlWithoutNormDrawsNothing()
    {
        QVERIFY(!PwmCharacteristic::compute(false, true, 0, 15).valid);
        QVERIFY(PwmCharacteristic::compute(false, false, 0, 15).valid); // the norm matters only for speed
    }
};

QTEST_GUILESS_MAIN(TestEscSettingsText)
#include "tst_escsettingstext.moc"
