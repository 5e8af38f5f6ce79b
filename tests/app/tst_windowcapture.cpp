#include "tests/common/windowrig.h"

#include "wire/messageids.h"
#include "wire/vyxprotocol.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

// The window's line capture (--capture) on a disk that fills up: the user is told once, and
// the window goes on with its connection and the ring of the last minutes.
class TestWindowCapture : public QObject
{
    Q_OBJECT

private slots:
    void captureFailureToldOnce()
    {
        WindowRig rig;
        const QString path = rig.dataDir.filePath(QStringLiteral("window.pcap"));
        QString error;
        QVERIFY2(rig.lineRecorder.startCapture(path, &error), qPrintable(error));
        QVERIFY(rig.connectDevice());

        // A file-size limit stands in for a full disk: writes past it fail with EFBIG.
        struct rlimit before {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = before;
        small.rlim_cur = rlim_t(QFileInfo(path).size() + 10);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        for (int i = 0; i < 3; ++i) {
            rig.tick(20);
            rig.lineRecorder.flush();
        }
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &before), 0);
        std::signal(SIGXFSZ, oldHandler);

        // Only the capture's own message counts: other files of the process (the device log)
        // may meet the same limit while it is set.
        const auto captureMessages = [&rig] {
            QVector<ScriptedDialogs::Message> found;
            for (const auto &message : qAsConst(rig.dialogs.messages))
                if (message.text.contains(QLatin1String("line capture")))
                    found << message;
            return found;
        };
        QCOMPARE(captureMessages().size(), 1);
        QCOMPARE(captureMessages().constFirst().icon, UserDialogs::Icon::Warning);
        QVERIFY2(captureMessages().constFirst().text.contains(QString::fromLocal8Bit(std::strerror(EFBIG))),
                 qPrintable(captureMessages().constFirst().text));
        const int ringBefore = rig.lineRecorder.ringCount();
        rig.tick(20);
        QVERIFY(rig.lineRecorder.ringCount() > ringBefore);
        QCOMPARE(rig.app().deviceState(), DEVICE_CONNECTED);
        rig.lineRecorder.stopCapture();
        QCOMPARE(captureMessages().size(), 1);
    }
};

QTEST_MAIN(TestWindowCapture)
#include "tst_windowcapture.moc"
