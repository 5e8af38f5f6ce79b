#include "app/datadirectory.h"
#include "app/demoportprovider.h"
#include "cli/flashcommand.h"
#include "firmwareimages.h"
#include "sim/simulatedcontroller.h"
#include "tests/common/filesizelimit.h"

#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

// The headless update on a full disk, where the controller's settings can be kept neither
// in the database nor in a file: refused before anything is sent, unless --without-backup.
class TestFlashBackup : public QObject
{
    Q_OBJECT

private slots:
    void flashOnAFullDisk_data()
    {
        QTest::addColumn<bool>("withoutBackup");
        QTest::newRow("backup required: nothing is sent") << false;
        QTest::newRow("--without-backup: updated") << true;
    }

    void flashOnAFullDisk()
    {
        QFETCH(bool, withoutBackup);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString image = dir.filePath(QStringLiteral("fw.bin"));
        const QByteArray content = TestImages::plainImage(8192);
        QVERIFY(TestImages::writeFile(image, content));
        const DataDirectory data = DataDirectory::resolve(dir.filePath(QStringLiteral("data")), {}, {});
        DemoPortProvider ports;
        QString output;
        QTextStream out(&output);
        QTextStream err(&output);
        FlashCommand command(&ports, data, {DemoPortProvider::DEMO_PORT_NAME}, out, err);
        command.setWithoutBackup(withoutBackup);
        int code = -1;
        {
            FileSizeLimit fullDisk(0);
            QVERIFY(fullDisk.active());
            code = command.run(image);
        }
        out.flush();
        QVERIFY2(output.contains(QStringLiteral("the disk is full")), qPrintable(output));
        QVERIFY(ports.controller());
        if (!withoutBackup) {
            QCOMPARE(code, 1);
            QVERIFY2(output.contains(QStringLiteral("--without-backup")), qPrintable(output));
            QVERIFY(!command.touchedController());
            QCOMPARE(ports.controller()->bootloader().pagesWritten(), 0);
            QVERIFY(!ports.controller()->isInBootloader());
            return;
        }
        QVERIFY2(code == 0, qPrintable(output));
        QCOMPARE(ports.controller()->bootloader().flash().left(content.size()), content);
    }
};

QTEST_MAIN(TestFlashBackup)
#include "tst_flashbackup.moc"
