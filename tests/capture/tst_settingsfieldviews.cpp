// Every settings field, its bits holding each of a table of words, read four ways: as the
// settings page and an export show it (the settings model), as the settings file holds it
// after export and import, as --decode describes the record, and as the Wireshark
// dissector shows it. All four must give one value.

#include "capture/linedecoder.h"
#include "capture/pcapfile.h"
#include "tests/common/settingswords.h"
#include "device/settingsdocument.h"
#include "device/settingsmodel.h"
#include "device/settingsrecords.h"
#include "wire/vyxprotocol.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

namespace {

// The dissector's field for each settings field.
const char *dissectorField(SettingsValue::Field field)
{
    static const char *const NAMES[] = {
        "kordo.pwm_in.low", "kordo.pwm_in.center", "kordo.pwm_in.high", "kordo.pwm_in.dead_zone",
        "kordo.pwm_in.pwm_type", "kordo.pwm_in.control_type", "kordo.pwm_in.speed_norm", "kordo.pwm_in.scale",
        "kordo.pwm_in.analog", "kordo.pwm_in.digital", "kordo.motion.acceleration", "kordo.motion.brake_position",
        "kordo.motion.brake_enable", "kordo.motion.reverse", "kordo.motion.hw_address", "kordo.motion.address",
        "kordo.motion.time_to_leave", "kordo.motion.kp", "kordo.motion.ki",
    };
    static_assert(sizeof(NAMES) / sizeof(NAMES[0]) == SettingsValue::KiKff + 1, "one dissector field per field");
    return NAMES[field];
}

// The dissector writes the two type fields as their names.
double dissectorValue(const QString &text)
{
    if (text == QLatin1String("Bipolar") || text == QLatin1String("Speed"))
        return 1;
    if (text == QLatin1String("Unipolar") || text == QLatin1String("Voltage"))
        return 0;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? value : qQNaN();
}

struct Case
{
    SettingsValue::Field field;
    uint16_t word;
    SET_PWM_IN_PARAMS pwmIn;
    SET_MOTION_PARAMS motion;
    uint8_t readMsgId() const
    {
        return SettingsModel::isPwmInField(field) ? VyxMsg::GET_PWM_IN_PARAMS : VyxMsg::GET_MOTION_PARAMS;
    }
    QByteArray payload() const { return SettingsModel::isPwmInField(field) ? pwmIn.pack() : motion.pack(); }
};

QVector<Case> allCases()
{
    QVector<Case> cases;
    for (SettingsValue::Field field : SettingsModel::fields()) {
        for (uint16_t word : SettingsWords::WORDS) {
            Case c {field, word, {}, {}};
            SettingsWords::set(field, word, c.pwmIn, c.motion);
            // Read back from the wire, as every reader does.
            c.pwmIn = SET_PWM_IN_PARAMS::unpack(c.pwmIn.pack());
            c.motion = SET_MOTION_PARAMS::unpack(c.motion.pack());
            cases << c;
        }
    }
    return cases;
}

} // namespace

class TestSettingsFieldViews : public QObject
{
    Q_OBJECT

    QVector<Case> m_cases;
    QTemporaryDir m_dir;
    QString m_tshark;
    QVector<QStringList> m_dissected; // per case, the dissector's text of each field

private slots:
    void initTestCase()
    {
        m_cases = allCases();
        QVERIFY(m_dir.isValid());
        m_tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (m_tshark.isEmpty())
            return;
        // One capture holding the read answer of every case, one frame per case.
        QVector<LineCapture::Record> records;
        for (const Case &c : qAsConst(m_cases)) {
            LineCapture::Record record;
            record.timeUs = 1000000 * (records.size() + 1);
            record.direction = LineCapture::Direction::FromController;
            record.bytes = VYX_Protocol().encode(1, c.readMsgId(), c.payload());
            records << record;
        }
        const QString capture = m_dir.filePath(QStringLiteral("settings.pcap"));
        QFile file(capture);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(PcapWriter::toPcap(records)) > 0);
        file.close();
        QStringList arguments {"-X", "lua_script:" KORDO_SOURCE_DIR "/packaging/wireshark/kordo.lua", "-r", capture,
                               "-T", "fields"};
        for (SettingsValue::Field field : SettingsModel::fields())
            arguments << "-e" << QString::fromLatin1(dissectorField(field));
        QProcess tshark;
        tshark.start(m_tshark, arguments);
        QVERIFY(tshark.waitForFinished(120000));
        QCOMPARE(tshark.exitCode(), 0);
        for (const QByteArray &row : tshark.readAllStandardOutput().split('\n')) {
            if (!row.isEmpty())
                m_dissected << QString::fromLatin1(row).split(QLatin1Char('\t'));
        }
        QCOMPARE(m_dissected.size(), m_cases.size());
    }

    void everyViewAgrees_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < m_cases.size(); ++i) {
            const Case &c = m_cases.at(i);
            QTest::addRow("%s 0x%04X", qPrintable(SettingsModel::tag(c.field)), c.word) << i;
        }
    }

    void everyViewAgrees()
    {
        QFETCH(int, index);
        const Case &c = m_cases.at(index);
        // What the page shows and an export writes.
        const double shown = SettingsModel::fieldValue(c.field, c.pwmIn, c.motion);

        // The settings file, exported and read again, where an export writes the field.
        const ImportedSettings imported =
            SettingsDocument::parse(SettingsDocument::compose(SettingsRecords::exported(c.pwmIn, c.motion)));
        QCOMPARE(imported.status, ImportedSettings::Status::Ok);
        for (const SettingsValue &value : imported.values) {
            if (value.field == c.field)
                QVERIFY2(qAbs(value.value - shown) < SettingsWords::SAME_WORD,
                         qPrintable(QStringLiteral("file %1, page %2").arg(value.value).arg(shown)));
        }

        // --decode.
        const QString decoded =
            LineDecoder::describeFields(LineCapture::Direction::FromController, c.readMsgId(), c.payload());
        const QRegularExpression field(QStringLiteral("(?:^|, )%1 ([^,\\s]+)").arg(SettingsModel::tag(c.field)));
        const QRegularExpressionMatch match = field.match(decoded);
        QVERIFY2(match.hasMatch(), qPrintable(decoded));
        bool ok = false;
        const double decodedValue = match.captured(1).toDouble(&ok);
        QVERIFY2(ok && qAbs(decodedValue - shown) < SettingsWords::SAME_WORD,
                 qPrintable(QStringLiteral("decoded %1, page %2").arg(match.captured(1)).arg(shown)));

        // The dissector.
        if (m_tshark.isEmpty())
            QSKIP("tshark is not installed (scripts/install-deps.sh installs it): the dissector is not compared");
        const QStringList &dissected = m_dissected.at(index);
        QCOMPARE(dissected.size(), SettingsModel::fields().size());
        const QString text = dissected.at(c.field);
        const double dissectedValue = dissectorValue(text);
        QVERIFY2(qAbs(dissectedValue - shown) < SettingsWords::SAME_WORD,
                 qPrintable(QStringLiteral("dissector %1, page %2").arg(text).arg(shown)));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFieldViews)
#include "tst_settingsfieldviews.moc"
