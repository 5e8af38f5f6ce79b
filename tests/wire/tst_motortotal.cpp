#include "wire/motortotal.h"

#include <QtTest>

namespace {

// Rs 0.125, Ls_d 0.5, Ls_q -2.0, Flux 1.0 | 251, 1000, 300 | 7 pole pairs, valid 1 |
// fluxFrequency 0x32, resCurrent 0xABC, indCurrent 0x123.
const QByteArray FIXTURE = QByteArray::fromHex(
    "0000003e" "0000003f" "000000c0" "0000803f"
    "fb00" "e803" "2c01" "07" "01" "32bc3a12");

MOTOR_TOTAL fixtureRecord()
{
    MOTOR_TOTAL m;
    m.Rs = 0.125f;
    m.Ls_d = 0.5f;
    m.Ls_q = -2.0f;
    m.Flux = 1.0f;
    m.voltage_scale = 251;
    m.maxFrequency = 1000;
    m.maxMotorCurrent = 300;
    m.polePairs = 7;
    m.validData = 1;
    m.fluxFrequency = 0x32;
    m.resCurrent = 0xABC;
    m.indCurrent = 0x123;
    return m;
}

} // namespace

class TestMotorTotal : public QObject
{
    Q_OBJECT

private slots:
    void packsTheFixtureLayout()
    {
        QCOMPARE(fixtureRecord().pack().toHex(), FIXTURE.toHex());
    }

    void unpacksTheFixtureLayout()
    {
        MOTOR_TOTAL m;
        QVERIFY(m.unpack(FIXTURE));
        const MOTOR_TOTAL expected = fixtureRecord();
        QCOMPARE(m.Rs, expected.Rs);
        QCOMPARE(m.Ls_d, expected.Ls_d);
        QCOMPARE(m.Ls_q, expected.Ls_q);
        QCOMPARE(m.Flux, expected.Flux);
        QCOMPARE(m.voltage_scale, expected.voltage_scale);
        QCOMPARE(m.maxFrequency, expected.maxFrequency);
        QCOMPARE(m.maxMotorCurrent, expected.maxMotorCurrent);
        QCOMPARE(m.polePairs, expected.polePairs);
        QCOMPARE(m.validData, expected.validData);
        QCOMPARE(m.fluxFrequency, expected.fluxFrequency);
        QCOMPARE(m.resCurrent, expected.resCurrent);
        QCOMPARE(m.indCurrent, expected.indCurrent);
    }

    void halvesAreTheMessagePayloads()
    {
        const MOTOR_TOTAL m = fixtureRecord();
        QCOMPARE(m.packIdent().toHex(), FIXTURE.left(16).toHex());
        // User half bytes 9..11: resCurrent low byte, res high nibble | ind low nibble << 4, ind high byte.
        QCOMPARE(m.packUser().toHex(), FIXTURE.mid(16).toHex());

        MOTOR_TOTAL rebuilt;
        QVERIFY(rebuilt.unpackIdent(FIXTURE.left(16)));
        QVERIFY(rebuilt.unpackUser(FIXTURE.mid(16)));
        QVERIFY(rebuilt == m);
    }

    void currentsKeepTwelveBits()
    {
        MOTOR_TOTAL m = fixtureRecord();
        m.resCurrent = 0xFABC;
        m.indCurrent = 0x5123;
        QCOMPARE(m.pack().toHex(), FIXTURE.toHex());
    }

    void shortInputIsRefused_data()
    {
        QTest::addColumn<int>("which");     // 0 whole, 1 ident half, 2 user half
        QTest::addColumn<int>("length");
        QTest::newRow("whole 27") << 0 << 27;
        QTest::newRow("whole empty") << 0 << 0;
        QTest::newRow("ident 15") << 1 << 15;
        QTest::newRow("user 11") << 2 << 11;
    }

    void shortInputIsRefused()
    {
        QFETCH(int, which);
        QFETCH(int, length);
        const QByteArray input = FIXTURE.left(length);
        MOTOR_TOTAL m;
        m.polePairs = 99;
        m.Rs = 9.0f;
        const bool ok = which == 0 ? m.unpack(input)
                      : which == 1 ? m.unpackIdent(input)
                                   : m.unpackUser(input);
        QVERIFY(!ok);
        QCOMPARE(m.polePairs, uint8_t(99));
        QCOMPARE(m.Rs, 9.0f);
    }

    void longerInputReadsTheFirstRecord()
    {
        MOTOR_TOTAL m;
        QVERIFY(m.unpack(FIXTURE + QByteArray(5, '\xff')));
        QVERIFY(m == fixtureRecord());
    }

    void travelsInAVariant()
    {
        const QVariant v = QVariant::fromValue(fixtureRecord());
        QVERIFY(v.value<MOTOR_TOTAL>() == fixtureRecord());
    }
};

QTEST_APPLESS_MAIN(TestMotorTotal)
#include "tst_motortotal.moc"
