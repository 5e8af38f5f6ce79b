#include "app/metatypes.h"
#include "tuning/tuningrecords.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

namespace {

QStringList g_warnings;
QMutex g_warningsLock;

void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg) {
        QMutexLocker lock(&g_warningsLock);
        g_warnings << message;
    }
}

} // namespace

// The production line starts several coordinators at once, each registering the types of
// its queued signals: containers among them must not have their converters registered twice.
class TestMetaTypes : public QObject
{
    Q_OBJECT

private slots:
    void registeringFromManyThreadsAtOnceWarnsNothing()
    {
        std::atomic<bool> go {false};
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < 8; ++i) {
            threads.emplace_back(QThread::create([&go] {
                while (!go.load())
                    QThread::yieldCurrentThread();
                registerTuningMetaTypes();
                registerApplicationMetaTypes();
            }));
            threads.back()->start();
        }
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        go = true;
        for (const auto &thread : threads)
            QVERIFY(thread->wait(10000));
        qInstallMessageHandler(previous);
        QCOMPARE(g_warnings, QStringList());
        QVERIFY(QMetaType::type("QVector<Test_Data_s>") != QMetaType::UnknownType);
        QVERIFY(QMetaType::type("QList<PortInfo>") != QMetaType::UnknownType);
    }
};

QTEST_GUILESS_MAIN(TestMetaTypes)
#include "tst_metatypes.moc"
