#include "app/datadirectory.h"
#include "cli/diagnosticscommand.h"
#include "cli/productionline.h"
#include "device/settingssnapshots.h"
#include "link/serialportprovider.h"
#include "motors/dbmanager.h"
#include "motors/motorfileexchange.h"
#include "recording/logbackworker.h"
#include "recording/storagebackworker.h"
#include "tests/common/filesizelimit.h"
#include "tests/common/windowrig.h"
#include "tests/firmware/firmwareimages.h"
#include "tests/motors/motortestsupport.h"
#include "wire/records.h"

#include <QAbstractButton>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <functional>
#include <map>

namespace {

enum class Output {
    BackupFile,
    ReportCsv,
    MotorExport,
    SupportBundle,
    SettingsExport,
    ControlPageSamples,
    SamplesCsv,
    DeviceLog,
};

// The files of a folder with their contents.
std::map<QString, QByteArray> filesOf(const QString &folder)
{
    std::map<QString, QByteArray> files;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile file(info.absoluteFilePath());
        files[info.fileName()] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }
    return files;
}

QStringList namesOf(const std::map<QString, QByteArray> &files)
{
    QStringList names;
    for (const auto &file : files)
        names << QStringLiteral("%1 (%2 bytes)").arg(file.first).arg(file.second.size());
    return names;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

SettingsSnapshot snapshot()
{
    SettingsSnapshot s;
    s.serialNumber = QStringLiteral("4660");
    s.time = QDateTime::currentDateTimeUtc();
    s.firmware = QStringLiteral("1.2.3");
    s.reason = SettingsSnapshot::reasonKey(SettingsSnapshot::Reason::FirmwareUpdate);
    s.pwmIn = SET_PWM_IN_PARAMS().pack();
    s.motion = SET_MOTION_PARAMS().pack();
    return s;
}

// What the window told in message boxes after the button was clicked.
QString messagesAfterClick(WindowRig &window, const char *button)
{
    window.dialogs.messages.clear();
    window.find<QAbstractButton>(button)->click();
    QCoreApplication::processEvents();
    QStringList texts;
    for (const auto &message : qAsConst(window.dialogs.messages))
        texts << message.text;
    return texts.join(QLatin1Char('\n'));
}

} // namespace

Q_DECLARE_METATYPE(Output)

// Every file the program writes, on a disk that fills up while it is written: the user is
// told why, and no empty or cut file is left as if saved; an earlier good file stays as it
// was. The disk is "full" past a few bytes beyond what the folder already holds
// (RLIMIT_FSIZE, no privileges needed), so each writer gets part of its text out first.
class TestFullDisk : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        qRegisterMetaType<uint8_t>("uint8_t");
        QVERIFY(m_dir.isValid());
    }

    void writesOnAFullDisk_data()
    {
        QTest::addColumn<Output>("output");
        QTest::newRow("settings backup file") << Output::BackupFile;
        QTest::newRow("production report CSV") << Output::ReportCsv;
        QTest::newRow("motor export") << Output::MotorExport;
        QTest::newRow("support bundle") << Output::SupportBundle;
        QTest::newRow("settings export") << Output::SettingsExport;
        QTest::newRow("control page samples table") << Output::ControlPageSamples;
        QTest::newRow("telemetry samples CSV") << Output::SamplesCsv;
        QTest::newRow("device log") << Output::DeviceLog;
    }

    void writesOnAFullDisk()
    {
        QFETCH(Output, output);
        const QString work = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        const QString folder = work + QStringLiteral("/out"); // where the output goes, and nothing else
        QVERIFY(QDir().mkpath(folder));
        const QByteArray earlier = "earlier good content\n";

        // Each row: prepared on a disk with room, then `write` runs on the full disk and
        // returns what the user was told.
        std::function<QString()> write;
        std::unique_ptr<DbManager> database;
        std::unique_ptr<MotorFileExchange> exchange;
        std::unique_ptr<WindowRig> window;
        std::unique_ptr<StorageBackWorker> samples;
        std::unique_ptr<LogBackWorker> log;
        switch (output) {
        case Output::BackupFile:
            write = [&] {
                SettingsSnapshots store(work + QStringLiteral("/db"), folder);
                return SettingsSnapshots::keptText(store.keep(snapshot()));
            };
            QVERIFY(QDir().mkpath(work + QStringLiteral("/db")));
            break;
        case Output::ReportCsv: {
            QVERIFY(writeFile(folder + QStringLiteral("/report.csv"), earlier));
            QVERIFY(QDir().mkpath(work + QStringLiteral("/data")));
            ProductionLine::Request request(DataDirectory::resolve(work + QStringLiteral("/data"), {}, {}));
            request.firmwareFile = work + QStringLiteral("/fw.bin");
            QVERIFY(writeFile(request.firmwareFile, TestImages::plainImage(4096)));
            request.findTimeoutMs = 500;
            request.ports << SerialPortProvider::parseExtraPort(work + QStringLiteral("/no-such-port"));
            request.reportFile = folder + QStringLiteral("/report.csv");
            write = [request] {
                QString out;
                QString err;
                QTextStream outStream(&out);
                QTextStream errStream(&err);
                ProductionLine(request, outStream, errStream).run();
                errStream.flush();
                return err;
            };
            break;
        }
        case Output::MotorExport: {
            QVERIFY(writeFile(folder + QStringLiteral("/motors.ms"), earlier));
            database = std::make_unique<DbManager>(nullptr, work);
            MOTOR_TOTAL motor = MotorTestSupport::sampleMotor(1);
            QVERIFY(database->saveMotor(QStringLiteral("Motor with a long name to fill the file"),
                                        QStringLiteral("2026-01-02 03:04:05"), &motor));
            QStringList names;
            QStringList dates;
            QVERIFY(database->getMotorList(&names, &dates));
            exchange = std::make_unique<MotorFileExchange>(*database);
            write = [&, names, dates] {
                const MotorResult result = exchange->exportMotors(folder + QStringLiteral("/motors.ms"), names, dates);
                return result.ok ? QString() : result.fullText();
            };
            break;
        }
        case Output::SupportBundle:
            QVERIFY(writeFile(folder + QStringLiteral("/bundle.zip"), earlier));
            write = [folder, work] {
                QString out;
                QString err;
                QTextStream outStream(&out);
                QTextStream errStream(&err);
                DiagnosticsCommand({}, outStream, errStream)
                    .writeSupportBundle(folder + QStringLiteral("/bundle.zip"), QStringLiteral("Kordo manager"), work);
                errStream.flush();
                return err;
            };
            break;
        case Output::SettingsExport:
            QVERIFY(writeFile(folder + QStringLiteral("/settings.xml"), earlier));
            window = std::make_unique<WindowRig>(SimulatorConfig(), work + QStringLiteral("/data"));
            QVERIFY(window->connectDevice());
            window->showPage("toolButtonEscParams");
            QVERIFY(window->settle());
            window->dialogs.saveAnswer = folder + QStringLiteral("/settings.xml");
            write = [&] { return messagesAfterClick(*window, "toolButtonExportParams"); };
            break;
        case Output::ControlPageSamples:
            QVERIFY(writeFile(folder + QStringLiteral("/samples.csv"), earlier));
            window = std::make_unique<WindowRig>(SimulatorConfig(), work + QStringLiteral("/data"));
            window->window->show();
            window->dialogs.saveAnswer = folder + QStringLiteral("/samples.csv");
            write = [&] { return messagesAfterClick(*window, "pushButtonSaveSamples"); };
            break;
        case Output::SamplesCsv: {
            samples = std::make_unique<StorageBackWorker>(folder);
            for (int i = 0; i < StorageBackWorker::BATCH_SIZE; ++i)
                samples->addSample(ONLINE_QUANTS_S());
            QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1); // the first batch, written whole
            write = [&] {
                QSignalSpy told(samples.get(), &StorageBackWorker::sendTextForMsgBox);
                for (int i = 0; i < StorageBackWorker::BATCH_SIZE; ++i)
                    samples->addSample(ONLINE_QUANTS_S());
                return told.isEmpty() ? QString() : told.last().at(0).toString();
            };
            break;
        }
        case Output::DeviceLog:
            log = std::make_unique<LogBackWorker>();
            log->createFile(folder, QStringLiteral("1ah5"));
            log->writeMessage(QStringLiteral("Connected device 12345"));
            write = [&] {
                QSignalSpy told(log.get(), &LogBackWorker::writeFailed);
                QSignalSpy states(log.get(), &LogBackWorker::fileState);
                log->writeMessage(QStringLiteral("a line longer than the room that is left on the disk"));
                log->writeMessage(QStringLiteral("and the next one"));
                const bool lost = states.size() == 2 && states.at(1).at(0).toInt() == LogBackWorker::MessageNotWritten;
                return told.size() == 1 && lost ? told.at(0).at(0).toString() : QString();
            };
            break;
        }

        const std::map<QString, QByteArray> before = filesOf(folder);
        qint64 held = 0;
        for (const auto &file : before)
            held = std::max<qint64>(held, file.second.size());
        QString told;
        {
            FileSizeLimit fullDisk(rlim_t(held + 10));
            QVERIFY(fullDisk.active());
            told = write();
        }
        QVERIFY2(told.contains(QStringLiteral("the disk is full")), qPrintable(told));
        const std::map<QString, QByteArray> after = filesOf(folder);
        QVERIFY2(after == before, qPrintable(QStringLiteral("before: %1; after: %2")
                                                 .arg(namesOf(before).join(QStringLiteral(", ")),
                                                      namesOf(after).join(QStringLiteral(", ")))));
    }
};

QTEST_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
