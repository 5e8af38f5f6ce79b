#include "tests/common/windowrig.h"
#include "tests/motors/motortestsupport.h"

#include "ui/embeddedfonts.h"
#include "device/ui/escsettingspage.h"
#include "ident/idhelper.h"
#include "motors/dbmanager.h"
#include "motors/ui/motorpage.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QToolButton>
#include "device/runningmode.h"

#include <QtTest>

using MotorTestSupport::sampleMotor;

// The motor page in the main window against the in-process simulated controller: the
// motor list, setting a stored motor, rename and remove, motor files, and the motor of
// an imported settings file.
class TestMotorPage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_files;

    static DbManager *database(WindowRig &rig) { return rig.app().dbManager(); }
    static QTableWidget *table(const WindowRig &rig) { return rig.find<QTableWidget>("tableWidgetMotors"); }
    static QString actualMotor(const WindowRig &rig) { return rig.find<QLineEdit>("lineEditActualMotorType")->text(); }

    static void store(WindowRig &rig, const QString &name, const MOTOR_TOTAL &motor,
                      const QString &date = QStringLiteral("2024-03-01 10:00:00"))
    {
        MOTOR_TOTAL copy = motor;
        QVERIFY(database(rig)->saveMotor(name, date, &copy));
    }

    static MOTOR_TOTAL stored(WindowRig &rig, const QString &name)
    {
        MOTOR_TOTAL motor;
        if (!database(rig)->getMotorParams(name, &motor))
            qWarning() << "motor not stored:" << name;
        return motor;
    }

    static QStringList column(const WindowRig &rig, int col)
    {
        QStringList texts;
        for (int row = 0; row < table(rig)->rowCount(); ++row)
            texts << table(rig)->item(row, col)->text();
        return texts;
    }

    // The name of the current row; empty when no cell is current.
    static QString current(const WindowRig &rig)
    {
        const int row = table(rig)->currentRow();
        return row < 0 ? QString() : table(rig)->item(row, MotorPage::NameColumn)->text();
    }

    // Makes a cell of the motor's row current, as a click on it does; the date cell, so
    // that the page must take the name from the row.
    static bool select(WindowRig &rig, const QString &name)
    {
        const int row = column(rig, MotorPage::NameColumn).indexOf(name);
        if (row < 0)
            return false;
        table(rig)->setCurrentCell(row, MotorPage::DateColumn);
        return true;
    }

    static void click(WindowRig &rig, const char *button) { rig.find<QAbstractButton>(button)->click(); }

    static QString lastMessage(const WindowRig &rig)
    {
        return rig.dialogs.messages.isEmpty() ? QString() : rig.dialogs.messages.last().text;
    }

    // The motor records the sequencer sent, in order: (message id, payload).
    static QList<QPair<uint8_t, QByteArray>> motorWrites(const QSignalSpy &spy)
    {
        QList<QPair<uint8_t, QByteArray>> writes;
        for (const QList<QVariant> &call : spy) {
            const auto id = call.value(0).value<uint8_t>();
            if (id == 0x41 || id == 0x30)
                writes.append({id, call.value(1).toByteArray()});
        }
        return writes;
    }

    // Connected, on the motor page, with the controller's motor looked up and read.
    static bool connectedOnMotorPage(WindowRig &rig)
    {
        if (!rig.connectDevice())
            return false;
        rig.showPage("toolButtonMotorParams");
        return rig.tickUntil([&rig] { return !actualMotor(rig).isEmpty() && !rig.device()->isReadBatchRunning(); });
    }

    QString filePath(const QString &name) const { return m_files.filePath(name); }

    // A settings file holding only this motor element; empty when it cannot be written.
    QString settingsFile(const QByteArray &motorElement) const
    {
        const QString path = filePath(QStringLiteral("settings.xml"));
        QFile out(path);
        const QByteArray document = "<settings>" + motorElement + "</settings>";
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(document) != document.size())
            return QString();
        return path;
    }

    static QList<QByteArray> fileLines(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = file.readAll().split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast(); // after the last line feed
        return lines;
    }

private slots:
    void tableListsTheMotorsInNameOrder()
    {
        WindowRig rig;
        store(rig, QStringLiteral("b"), sampleMotor(1), QStringLiteral("2024-01-02 03:04:05"));
        store(rig, QStringLiteral("A"), sampleMotor(2), QStringLiteral("2023-12-31 23:59:59"));
        store(rig, QStringLiteral("a"), sampleMotor(3), QString());
        store(rig, QStringLiteral("C"), sampleMotor(4), QStringLiteral("2022-06-07 08:09:10"));
        rig.showPage("toolButtonMotorParams");

        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"A", "C", "a", "b"}));
        QCOMPARE(column(rig, MotorPage::DateColumn),
                 QStringList({"2023-12-31 23:59:59", "2022-06-07 08:09:10", "", "2024-01-02 03:04:05"}));
        for (int row = 0; row < table(rig)->rowCount(); ++row)
            QCOMPARE(table(rig)->item(row, 0)->toolTip(), table(rig)->item(row, 0)->text());
        QCOMPARE(current(rig), QString());
    }

    void theConnectedMotorIsNamedAndSelected()
    {
        WindowRig rig;
        store(rig, QStringLiteral("Other"), sampleMotor(1));
        QVERIFY(connectedOnMotorPage(rig));
        // The simulated controller's motor was not stored yet: it is now, under the first free name.
        QCOMPARE(actualMotor(rig), QStringLiteral("Unknown motor 1"));
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"Other", "Unknown motor 1"}));
        QCOMPARE(current(rig), QStringLiteral("Unknown motor 1"));
        QCOMPARE(rig.find<QLineEdit>("lineEditMotorHours")->text(), QStringLiteral("03:25:45")); // 12345 s

        emit rig.device()->ui_fillMotorHours(360000);
        QCOMPARE(rig.find<QLineEdit>("lineEditMotorHours")->text(), QStringLiteral("100:00:00"));
        emit rig.device()->ui_fillMotorName(QString());
        QCOMPARE(actualMotor(rig), QString());
        QCOMPARE(rig.find<QLineEdit>("lineEditMotorHours")->text(), QString());
    }

    void setMotorWritesBothHalvesIntoTheController()
    {
        WindowRig rig;
        QVERIFY(connectedOnMotorPage(rig));
        store(rig, QStringLiteral("Test"), sampleMotor(5));
        rig.window->motorPage()->refresh();
        QVERIFY(select(rig, QStringLiteral("Test")));
        QSignalSpy sent(rig.app().idHelper()->requests(), &RequestChannel::requestSent);

        click(rig, "toolButtonSetMotor");
        const MOTOR_TOTAL motor = stored(rig, QStringLiteral("Test"));
        const auto writes = motorWrites(sent);
        QCOMPARE(writes.size(), 2);
        QCOMPARE(writes[0].first, uint8_t(0x41));
        QCOMPARE(writes[0].second, motor.packIdent());
        QCOMPARE(writes[1].first, uint8_t(0x30));
        QCOMPARE(writes[1].second, motor.packUser());
        // Said only once the controller has accepted both halves.
        QVERIFY(rig.dialogs.messages.isEmpty());
        QVERIFY(rig.tickUntil([&] { return !rig.dialogs.messages.isEmpty(); }));
        QCOMPARE(lastMessage(rig), QStringLiteral("Motor is set"));
        QCOMPARE(actualMotor(rig), QStringLiteral("Test"));

        // The controller keeps it, and the device model, reading it back, names it the same.
        QVERIFY(rig.tickUntil([&] { return rig.device()->motorName() == QLatin1String("Test"); }));
        QCOMPARE(rig.controller().firmware().storedMotor().packIdent(), motor.packIdent());
        QCOMPARE(rig.controller().firmware().storedMotor().packUser(), motor.packUser());
        QCOMPARE(actualMotor(rig), QStringLiteral("Test"));
        QCOMPARE(current(rig), QStringLiteral("Test"));
    }

    void setMotorIsRefusedByTheDeviceState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("message");
        QTest::newRow("disconnected") << int(DEVICE_DISCONNECTED) << "Device is disconnected";
        QTest::newRow("running") << int(DEVICE_RUNNING) << RunningMode::refusal("Device is running");
        QTest::newRow("bootloader started") << int(DEVICE_BOOT_STARTED) << "Bootloader mode";
        QTest::newRow("bootloader connected") << int(DEVICE_BOOT_CONNECTED) << "Bootloader mode";
    }

    void setMotorIsRefusedByTheDeviceState()
    {
        QFETCH(int, state);
        QFETCH(QString, message);
        WindowRig rig;
        Device *device = rig.device();
        device->createDevice(1, 1, 2, 3, 2, 1); // first connected, as a device always is
        switch (state) {
        case DEVICE_DISCONNECTED:
            device->deleteDevice();
            break;
        case DEVICE_RUNNING:
            device->runDevice(true);
            break;
        case DEVICE_BOOT_STARTED:
            device->bootloaderRun(true);
            break;
        case DEVICE_BOOT_CONNECTED:
            device->bootloaderConnected(true);
            break;
        }
        QCOMPARE(int(device->state()), state);
        store(rig, QStringLiteral("M"), sampleMotor(1));
        rig.window->motorPage()->refresh();
        QVERIFY(select(rig, QStringLiteral("M")));
        QSignalSpy sent(rig.app().idHelper()->requests(), &RequestChannel::requestSent);

        click(rig, "toolButtonSetMotor");
        QCOMPARE(lastMessage(rig), message);
        QCOMPARE(sent.size(), 0);
        QCOMPARE(actualMotor(rig), QString());
    }

    void actionsNeedASelectedMotor_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("set") << "toolButtonSetMotor";
        QTest::newRow("rename") << "toolButtonRenameMotor";
        QTest::newRow("remove") << "toolButtonRemoveMotor";
    }

    void actionsNeedASelectedMotor()
    {
        QFETCH(QString, button);
        WindowRig rig;
        QVERIFY(connectedOnMotorPage(rig));
        store(rig, QStringLiteral("M"), sampleMotor(1));
        rig.window->motorPage()->fillMotorTable(QString());
        QSignalSpy sent(rig.app().idHelper()->requests(), &RequestChannel::requestSent);

        click(rig, button.toLatin1().constData());
        QCOMPARE(lastMessage(rig), QStringLiteral("No motor is selected!"));
        QVERIFY(rig.dialogs.textPrompts.isEmpty());
        QCOMPARE(sent.size(), 0);
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"M", "Unknown motor 1"}));
    }

    void renameMotor_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("firstName"); // of motor A afterwards
        QTest::addColumn<QString>("message");
        QTest::newRow("cancelled") << QString() << "A" << QString();
        QTest::newRow("left empty") << QStringLiteral("") << "A" << QString();
        QTest::newRow("existing name") << "B" << "A" << "This name exists or is not valid";
        QTest::newRow("not a motor file name")
            << "A;B" << "A" << "The motor name \"A;B\" contains \";\", which a motor name must not contain.";
        QTest::newRow("new name") << "C" << "C" << QString();
    }

    void renameMotor()
    {
        QFETCH(QString, answer);
        QFETCH(QString, firstName);
        QFETCH(QString, message);
        WindowRig rig;
        store(rig, QStringLiteral("A"), sampleMotor(1));
        store(rig, QStringLiteral("B"), sampleMotor(2));
        emit rig.device()->ui_fillMotorName(QStringLiteral("A"));
        QCOMPARE(current(rig), QStringLiteral("A"));
        rig.dialogs.textAnswer = answer;

        click(rig, "toolButtonRenameMotor");
        QCOMPARE(rig.dialogs.textPrompts.size(), 1);
        QCOMPARE(rig.dialogs.textPrompts[0].title, QStringLiteral("Rename motor"));
        QCOMPARE(rig.dialogs.textPrompts[0].label, EmbeddedFonts::inDialogFont(QStringLiteral("New motor name:")));
        QCOMPARE(rig.dialogs.textPrompts[0].text, QStringLiteral("A"));
        QCOMPARE(lastMessage(rig), message);
        QStringList names {firstName, QStringLiteral("B")};
        names.sort();
        QCOMPARE(column(rig, MotorPage::NameColumn), names);
        QCOMPARE(stored(rig, firstName), sampleMotor(1));
        QCOMPARE(stored(rig, QStringLiteral("B")), sampleMotor(2));
        QCOMPARE(actualMotor(rig), firstName);
        QCOMPARE(current(rig), firstName);
    }

    void renamingTheConnectedMotorRenamesItForTheDeviceModel()
    {
        WindowRig rig;
        QVERIFY(connectedOnMotorPage(rig));
        QVERIFY(select(rig, QStringLiteral("Unknown motor 1")));
        rig.dialogs.textAnswer = QStringLiteral("Outrunner");
        click(rig, "toolButtonRenameMotor");
        QCOMPARE(actualMotor(rig), QStringLiteral("Outrunner"));
        // A settings export names the motor the device model found.
        QVERIFY(rig.tickUntil([&] { return rig.device()->motorName() == QLatin1String("Outrunner"); }));
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"Outrunner"}));
    }

    void removeMotorLeavesNoMotorSelected()
    {
        WindowRig rig;
        for (const char *name : {"A", "B", "C"})
            store(rig, QLatin1String(name), sampleMotor(name[0]));
        rig.window->motorPage()->refresh();
        QVERIFY(select(rig, QStringLiteral("B")));

        rig.dialogs.answerYes = true;
        click(rig, "toolButtonRemoveMotor");
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"A", "C"}));
        QVERIFY(rig.dialogs.messages.isEmpty());
        QCOMPARE(current(rig), QString());
        // A second click must not remove whichever motor moved into the removed one's row.
        click(rig, "toolButtonRemoveMotor");
        QCOMPARE(lastMessage(rig), QStringLiteral("No motor is selected!"));
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"A", "C"}));
    }

    void exportOffersSelectedOnlyWithACurrentMotor()
    {
        WindowRig rig;
        store(rig, QStringLiteral("A"), sampleMotor(1));
        rig.window->motorPage()->refresh();
        rig.dialogs.choiceAnswer = UserDialogs::Choice::No;

        click(rig, "pushButtonExportMotors");
        QCOMPARE(rig.dialogs.choiceOffers.size(), 1);
        QCOMPARE(rig.dialogs.choiceOffers[0].informativeText, QStringLiteral("Which motor to save to the file?"));
        QCOMPARE(rig.dialogs.choiceOffers[0].yesLabel, QStringLiteral("All"));
        QCOMPARE(rig.dialogs.choiceOffers[0].noLabel, QStringLiteral("Selected"));
        QVERIFY(!rig.dialogs.choiceOffers[0].noEnabled);
        QCOMPARE(rig.dialogs.fileDialogs, 0);

        QVERIFY(select(rig, QStringLiteral("A")));
        rig.dialogs.choiceAnswer = UserDialogs::Choice::Cancel;
        click(rig, "pushButtonExportMotors");
        QVERIFY(rig.dialogs.choiceOffers[1].noEnabled);
        QCOMPARE(rig.dialogs.fileDialogs, 0);
    }

    void exportWritesTheChosenMotors_data()
    {
        QTest::addColumn<bool>("all");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("All") << true << QStringList({"A", "B", "C"});
        QTest::newRow("Selected") << false << QStringList({"B"});
    }

    void exportWritesTheChosenMotors()
    {
        QFETCH(bool, all);
        QFETCH(QStringList, names);
        WindowRig rig;
        const QHash<QString, QString> dates {{"A", "2024-01-01 01:01:01"}, {"B", ""}, {"C", "2024-03-03 03:03:03"}};
        store(rig, QStringLiteral("C"), sampleMotor(3), dates["C"]);
        store(rig, QStringLiteral("A"), sampleMotor(1), dates["A"]);
        store(rig, QStringLiteral("B"), sampleMotor(2), dates["B"]);
        rig.window->motorPage()->refresh();
        QVERIFY(select(rig, QStringLiteral("B")));
        rig.dialogs.choiceAnswer = all ? UserDialogs::Choice::Yes : UserDialogs::Choice::No;
        rig.dialogs.saveAnswer = filePath(QStringLiteral("export-%1.ms").arg(all));

        click(rig, "pushButtonExportMotors");
        QVERIFY(rig.dialogs.messages.isEmpty());
        const QList<QByteArray> lines = fileLines(rig.dialogs.saveAnswer);
        QCOMPARE(lines.size(), names.size());
        for (int i = 0; i < lines.size(); ++i) {
            const QList<QByteArray> fields = lines[i].split(';');
            QCOMPARE(fields.size(), 3);
            QCOMPARE(QString::fromUtf8(fields[0]), names[i]);
            QCOMPARE(QString::fromUtf8(fields[1]), dates[names[i]]);
            QCOMPARE(fields[2].size(), 44);
        }
    }

    void importOverwriteOfAnExportedFile()
    {
        WindowRig rig;
        QVERIFY(connectedOnMotorPage(rig));
        const MOTOR_TOTAL controllerMotor = stored(rig, QStringLiteral("Unknown motor 1"));
        rig.dialogs.choiceAnswer = UserDialogs::Choice::Yes;
        rig.dialogs.saveAnswer = filePath(QStringLiteral("backup.ms"));
        click(rig, "pushButtonExportMotors");
        QVERIFY(rig.dialogs.messages.isEmpty());

        // Meanwhile the controller's motor got another name and a second motor came.
        QVERIFY(select(rig, QStringLiteral("Unknown motor 1")));
        rig.dialogs.textAnswer = QStringLiteral("Renamed");
        click(rig, "toolButtonRenameMotor");
        QVERIFY(rig.tickUntil([&] { return rig.device()->motorName() == QLatin1String("Renamed"); }));
        store(rig, QStringLiteral("Later"), sampleMotor(2));

        rig.dialogs.openAnswer = rig.dialogs.saveAnswer;
        click(rig, "pushButtonImportMotors");
        QCOMPARE(rig.dialogs.choiceOffers.last().informativeText,
                 QStringLiteral("What operation to perform on the original motor list?"));
        QCOMPARE(rig.dialogs.choiceOffers.last().yesLabel, QStringLiteral("Overwrite"));
        QCOMPARE(rig.dialogs.choiceOffers.last().noLabel, QStringLiteral("Append"));
        QVERIFY(rig.dialogs.messages.isEmpty());
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"Unknown motor 1"}));
        QCOMPARE(stored(rig, QStringLiteral("Unknown motor 1")), controllerMotor);

        // The device model looks its motor up again, and the list selects it.
        QVERIFY(rig.tickUntil([&] { return actualMotor(rig) == QLatin1String("Unknown motor 1"); }));
        QCOMPARE(rig.device()->motorName(), QStringLiteral("Unknown motor 1"));
        QCOMPARE(current(rig), QStringLiteral("Unknown motor 1"));
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"Unknown motor 1"}));
    }

    void motorFileFailuresAreReported_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // written to `file` first when not empty
        QTest::addColumn<QString>("message");
        // Export and import say why they failed, on a line of their own.
        QTest::newRow("export into a missing folder") << "pushButtonExportMotors" << "missing/motors.ms"
                                                      << QByteArray() << "Export failed!<br>The file %1 cannot be written";
        QTest::newRow("import of a missing file") << "pushButtonImportMotors" << "missing.ms" << QByteArray()
                                                  << "Import failed!<br>The file %1 cannot be opened";
        QTest::newRow("import of a damaged line") << "pushButtonImportMotors" << "damaged.ms"
                                                  << QByteArray("X;2024-01-01 00:00:00;bm90IGEgbW90b3I=\n")
                                                  << "Import failed!<br>The file is damaged: line 1";
        QTest::newRow("import of an empty file, overwrite") << "pushButtonImportMotors" << "empty.ms" << QByteArray("")
                                                            << "Import failed!<br>The file holds no motors: nothing to import.";
    }

    void motorFileFailuresAreReported()
    {
        QFETCH(QString, button);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        WindowRig rig;
        store(rig, QStringLiteral("A"), sampleMotor(1));
        rig.window->motorPage()->refresh();
        const QString path = filePath(file);
        if (!content.isNull()) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(content) == content.size());
        }
        rig.dialogs.saveAnswer = path;
        rig.dialogs.openAnswer = path;
        rig.dialogs.choiceAnswer = UserDialogs::Choice::Yes; // "All" / "Overwrite"

        click(rig, button.toLatin1().constData());
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages[0].icon, UserDialogs::Icon::Critical);
        QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Error"));
        const QString expected = EmbeddedFonts::inDialogFont(message.arg(path));
        QVERIFY2(rig.dialogs.messages[0].text.startsWith(expected.left(expected.indexOf(QLatin1String("</font>")))),
                 qPrintable(rig.dialogs.messages[0].text));
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"A"}));
        QCOMPARE(stored(rig, QStringLiteral("A")), sampleMotor(1));
    }

    void motorOfASettingsFile_data()
    {
        QTest::addColumn<QByteArray>("motorElement");
        QTest::addColumn<QString>("applied"); // empty: nothing happens
        QTest::newRow("stored name") << QByteArray("<motor><name>Stored</name></motor>") << "Stored";
        QTest::newRow("unknown name") << QByteArray("<motor><name>Nobody</name></motor>") << QString();
        QTest::newRow("name with params")
            << QByteArray("<motor><name>Fresh</name><params><rs>0.25</rs><ls_q>3e-05</ls_q><ls_d>2e-05</ls_d>"
                          "<flux>0.002</flux><max_i>200</max_i><max_v>251</max_v><max_f>2646</max_f>"
                          "<id_res>200</id_res><pole_pairs>7</pole_pairs></params></motor>")
            << "Fresh";
    }

    void motorOfASettingsFile()
    {
        QFETCH(QByteArray, motorElement);
        QFETCH(QString, applied);
        WindowRig rig;
        QVERIFY(connectedOnMotorPage(rig));
        store(rig, QStringLiteral("Stored"), sampleMotor(4));
        rig.window->motorPage()->refresh();
        rig.showPage("toolButtonEscParams");
        QVERIFY(rig.settle());
        const QString path = settingsFile(motorElement);
        QVERIFY(!path.isEmpty());
        QSignalSpy sent(rig.app().idHelper()->requests(), &RequestChannel::requestSent);

        rig.dialogs.openAnswer = path;
        click(rig, "toolButtonImportParams");
        if (applied.isEmpty()) {
            QVERIFY(!rig.find<QToolButton>("toolButtonSetMotor")->isDown()); // no click under way
            QCOMPARE(current(rig), QStringLiteral("Unknown motor 1"));
            QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"Stored", "Unknown motor 1"}));
            QVERIFY(rig.dialogs.messages.isEmpty());
            QCOMPARE(sent.size(), 0);
            return;
        }
        QCOMPARE(current(rig), applied);
        QVERIFY(rig.tickUntil([&] { return lastMessage(rig) == QLatin1String("Motor is set"); }));
        const auto writes = motorWrites(sent);
        QCOMPARE(writes.size(), 2);
        QCOMPARE(writes[0].second, stored(rig, applied).packIdent());
        QCOMPARE(writes[1].second, stored(rig, applied).packUser());
        QCOMPARE(actualMotor(rig), applied);
    }

    // "Motor is set" only once the controller has accepted both halves.
    void setMotorIsReportedOnTheControllerAnswer_data()
    {
        QTest::addColumn<float>("resistance");
        QTest::addColumn<bool>("answerLost");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("actual");
        QTest::addColumn<UserDialogs::Icon>("icon"); // a failure is never told as information
        QTest::newRow("accepted") << 0.5f << false << "Motor is set" << "Chosen" << UserDialogs::Icon::Information;
        // The controller takes up to 10 Ohm.
        QTest::newRow("refused") << 20.0f << false
                                 << "The controller refused the motor \"Chosen\". Motor is not set!"
                                 << "Unknown motor 1" << UserDialogs::Icon::Warning;
        // Only the report was lost here: the device model reads the motor back and names it.
        QTest::newRow("answer lost") << 0.5f << true << "The controller did not answer. Motor is not set!"
                                     << "Chosen" << UserDialogs::Icon::Warning;
    }
    void setMotorIsReportedOnTheControllerAnswer()
    {
        QFETCH(float, resistance);
        QFETCH(bool, answerLost);
        QFETCH(QString, message);
        QFETCH(QString, actual);
        QFETCH(UserDialogs::Icon, icon);
        WindowRig rig;
        QVERIFY(connectedOnMotorPage(rig));
        MOTOR_TOTAL motor = sampleMotor(6);
        motor.Rs = resistance;
        store(rig, QStringLiteral("Chosen"), motor);
        rig.window->motorPage()->refresh();
        QVERIFY(select(rig, QStringLiteral("Chosen")));

        QSignalSpy sent(rig.app().idHelper()->requests(), &RequestChannel::requestSent);
        click(rig, "toolButtonSetMotor");
        if (answerLost) { // as the request line tells a request that got no answer
            QVERIFY(rig.tickUntil([&] { return !sent.isEmpty(); }));
            QCOMPARE(sent.first().at(0).toUInt(), 0x41u);
            emit rig.app().idHelper()->requests()->failed(sent.first().at(4).value<RequestTicket>(),
                                                          RequestFailure::NoAnswer);
        }
        QVERIFY(rig.tickUntil([&] { return !rig.dialogs.messages.isEmpty(); }));
        rig.tick(10);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(lastMessage(rig), message);
        QCOMPARE(rig.dialogs.messages.last().icon, icon);
        QCOMPARE(actualMotor(rig), actual);
    }

    void removeAsksFirstAndTheActualMotorFollows()
    {
        WindowRig rig;
        for (const char *name : {"A", "B"})
            store(rig, QLatin1String(name), sampleMotor(name[0]));
        rig.window->motorPage()->on_fillMotorName(QStringLiteral("A"));
        QVERIFY(select(rig, QStringLiteral("A")));

        rig.dialogs.answerYes = false;
        click(rig, "toolButtonRemoveMotor");
        QCOMPARE(rig.dialogs.questions, QStringList{QStringLiteral("Remove motor")});
        QVERIFY(rig.dialogs.questionTexts.value(0).contains(QLatin1String("\"A\"")));
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"A", "B"}));
        QCOMPARE(actualMotor(rig), QStringLiteral("A"));

        rig.dialogs.answerYes = true;
        click(rig, "toolButtonRemoveMotor");
        QCOMPARE(column(rig, MotorPage::NameColumn), QStringList({"B"}));
        QCOMPARE(actualMotor(rig), QString());
    }

    // A settings file's motor reaches the database and the controller only when it can
    // drive a motor, and replaces a stored motor of its name only when the user agrees.
    void settingsFileMotorIsCheckedFirst_data()
    {
        QTest::addColumn<QByteArray>("params");
        QTest::addColumn<bool>("answerYes");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<QString>("message");
        const QByteArray zeros("<rs>0</rs><ls_q>0</ls_q><ls_d>0</ls_d><flux>0</flux><max_i>0</max_i><max_v>0</max_v>"
                               "<max_f>0</max_f><id_res>0</id_res><pole_pairs>0</pole_pairs>");
        const QByteArray other("<rs>0.25</rs><ls_q>3e-05</ls_q><ls_d>2e-05</ls_d><flux>0.002</flux><max_i>200</max_i>"
                               "<max_v>251</max_v><max_f>2646</max_f><id_res>200</id_res><pole_pairs>7</pole_pairs>");
        QByteArray infinite = other;
        infinite.replace("<rs>0.25</rs>", "<rs>inf</rs>");
        QByteArray noPoles = other;
        noPoles.replace("<pole_pairs>7</pole_pairs>", "<pole_pairs>0</pole_pairs>");
        const QString unusable = QStringLiteral("The motor \"Stored\" of the settings file has no usable values "
                                                "(resistance, inductances, flux and pole pairs must be set). It is "
                                                "not stored and not set.");
        QTest::newRow("all zero") << zeros << true << false << false << unusable;
        QTest::newRow("infinite resistance") << infinite << true << false << false << unusable;
        QTest::newRow("no pole pairs") << noPoles << true << false << false << unusable;
        QTest::newRow("other values, kept") << other << false << true << false << QString();
        QTest::newRow("other values, replaced") << other << true << true << true << QStringLiteral("Motor is set");
    }

    void settingsFileMotorIsCheckedFirst()
    {
        QFETCH(QByteArray, params);
        QFETCH(bool, answerYes);
        QFETCH(bool, asked);
        QFETCH(bool, replaced);
        QFETCH(QString, message);
        WindowRig rig;
        QVERIFY(connectedOnMotorPage(rig));
        store(rig, QStringLiteral("Stored"), sampleMotor(4));
        const MOTOR_TOTAL before = stored(rig, QStringLiteral("Stored"));
        rig.showPage("toolButtonEscParams");
        QVERIFY(rig.settle());
        const QString path = settingsFile("<motor><name>Stored</name><params>" + params + "</params></motor>");
        QVERIFY(!path.isEmpty());
        QSignalSpy sent(rig.app().idHelper()->requests(), &RequestChannel::requestSent);

        rig.dialogs.answerYes = answerYes;
        rig.dialogs.openAnswer = path;
        click(rig, "toolButtonImportParams");
        rig.tickUntil([&] { return !rig.dialogs.messages.isEmpty(); }, 3000);
        rig.tick(10);
        QCOMPARE(rig.dialogs.questions.contains(QStringLiteral("Replace motor")), asked);
        QCOMPARE(stored(rig, QStringLiteral("Stored")) != before, replaced);
        QCOMPARE(motorWrites(sent).isEmpty(), !replaced);
        QCOMPARE(lastMessage(rig), message);
        QStringList names;
        QStringList dates;
        QVERIFY(rig.app().motorLibrary()->motorList(&names, &dates));
        QCOMPARE(names, QStringList({"Stored", "Unknown motor 1"}));
    }

    // A settings file naming its motor "A;B": the user learns which character is wrong,
    // not "Problem with database!", and nothing is stored.
    void settingsFileMotorNameSaysWhichCharacter()
    {
        WindowRig rig;
        QVERIFY(connectedOnMotorPage(rig));
        rig.showPage("toolButtonEscParams");
        QVERIFY(rig.settle());
        const QString path = filePath(QStringLiteral("settings.xml"));
        QFile out(path);
        const QByteArray document = "<settings><motor><name>A;B</name><params><rs>0.25</rs><ls_q>3e-05</ls_q>"
                                    "<ls_d>2e-05</ls_d><flux>0.002</flux></params></motor></settings>";
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(document) == document.size());
        out.close();
        rig.dialogs.openAnswer = path;
        click(rig, "toolButtonImportParams");
        QTRY_COMPARE_WITH_TIMEOUT(lastMessage(rig),
                                  QStringLiteral("The motor name \"A;B\" contains \";\", which a motor name must not contain."),
                                  10000);
        QVERIFY(!column(rig, MotorPage::NameColumn).contains(QStringLiteral("A;B")));
    }

    void noLoadCurrentIsEnteredOnlyWhenKnown()
    {
        WindowRig rig;
        QWidget *current = rig.find<QWidget>("doubleSpinBoxNoLoadCurrent");
        QAbstractButton *known = rig.find<QAbstractButton>("checkBoxNoLoadCurrent");
        QVERIFY(!current->isEnabled());
        known->click();
        QVERIFY(current->isEnabled());
        known->click();
        QVERIFY(!current->isEnabled());
    }
};

QTEST_MAIN(TestMotorPage)
#include "tst_motorpage.moc"
