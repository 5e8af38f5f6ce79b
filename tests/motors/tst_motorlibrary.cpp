#include "motors/dbmanager.h"
#include "motors/motorlibrary.h"

#include "motortestsupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace MotorTestSupport;

class TestMotorLibrary : public QObject
{
    Q_OBJECT

private slots:
    void saveMotor_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QString>("message");
        QTest::newRow("plain name") << "Motor 1" << true << "Motor was saved to database!";
        // An invalid name says which character is not allowed.
        QTest::newRow("empty") << "" << false << "The motor name is empty.";
        QTest::newRow("semicolon") << "a;b" << false << "The motor name \"a;b\" contains \";\", which a motor name must not contain.";
        QTest::newRow("line feed") << "a\nb" << false
                                   << "The motor name contains a line break, which a motor name must not contain.";
        QTest::newRow("carriage return") << "a\rb" << false
                                         << "The motor name contains a line break, which a motor name must not contain.";
    }

    void saveMotor()
    {
        QFETCH(QString, name);
        QFETCH(bool, saved);
        QFETCH(QString, message);
        QTemporaryDir dir;
        DbManager db(nullptr, dir.path());
        MotorLibrary library(db);
        QVERIFY(library.startupProblem().isEmpty());

        const MotorResult result = library.saveMotor(name, sampleMotor(1));
        QCOMPARE(result.ok, saved);
        QCOMPARE(result.message, message);
        QStringList names, dates;
        QVERIFY(library.motorList(&names, &dates));
        QCOMPARE(names, saved ? QStringList { name } : QStringList());
        if (saved) {
            const QRegularExpression dateFormat(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
            QVERIFY(dateFormat.match(dates.first()).hasMatch());
            MOTOR_TOTAL readBack;
            QVERIFY(db.getMotorParams(name, &readBack));
            QVERIFY(readBack == sampleMotor(1));
        }
    }

    void renameMotor_data()
    {
        QTest::addColumn<QString>("newName");
        QTest::addColumn<bool>("renamed");
        QTest::addColumn<QString>("message");
        QTest::newRow("free name") << "C" << true << "";
        QTest::newRow("existing name") << "B" << false << "This name exists or is not valid";
        QTest::newRow("invalid name") << "C;D" << false
                                      << "The motor name \"C;D\" contains \";\", which a motor name must not contain.";
    }

    void renameMotor()
    {
        QFETCH(QString, newName);
        QFETCH(bool, renamed);
        QFETCH(QString, message);
        QTemporaryDir dir;
        DbManager db(nullptr, dir.path());
        MotorLibrary library(db);
        QVERIFY(library.saveMotor(QStringLiteral("A"), sampleMotor(1)).ok);
        QVERIFY(library.saveMotor(QStringLiteral("B"), sampleMotor(2)).ok);

        const MotorResult result = library.renameMotor(QStringLiteral("A"), newName);
        QCOMPARE(result.ok, renamed);
        QCOMPARE(result.message, message);
        QStringList names, dates;
        QVERIFY(library.motorList(&names, &dates));
        QCOMPARE(names.size(), 2);
        QVERIFY(names.contains(renamed ? newName : QStringLiteral("A")));
    }

    void removeOneAndAll()
    {
        QTemporaryDir dir;
        DbManager db(nullptr, dir.path());
        MotorLibrary library(db);
        QVERIFY(library.saveMotor(QStringLiteral("A"), sampleMotor(1)).ok);
        QVERIFY(library.saveMotor(QStringLiteral("B"), sampleMotor(2)).ok);
        QVERIFY(library.removeMotor(QStringLiteral("A")).ok);
        QStringList names, dates;
        QVERIFY(library.motorList(&names, &dates));
        QCOMPARE(names, QStringList { QStringLiteral("B") });
        QVERIFY(library.removeAllMotors().ok);
        names.clear();
        QVERIFY(library.motorList(&names, &dates));
        QVERIFY(names.isEmpty());
    }

    // A database that cannot be used is reported once at start and every operation then
    // fails with that message (it says what is wrong and where), without touching anything.
    void unusableDatabase()
    {
        QTemporaryDir dir;
        {
            QFile corrupt(dir.filePath(QStringLiteral("Kordo_data.db")));
            QVERIFY(corrupt.open(QIODevice::WriteOnly));
            corrupt.write(QByteArray(2048, '\x7f'));
        }
        DbManager db(nullptr, dir.path());
        MotorLibrary library(db);
        const QString problem = library.startupProblem();
        QVERIFY2(problem.contains(QDir::toNativeSeparators(dir.filePath(QStringLiteral("Kordo_data.db")))),
                 qPrintable(problem));
        QVERIFY2(problem.contains(QLatin1String("damaged")), qPrintable(problem));
        const MotorResult saved = library.saveMotor(QStringLiteral("A"), sampleMotor(1));
        QVERIFY(!saved.ok);
        QCOMPARE(saved.message, problem);
        QCOMPARE(library.renameMotor(QStringLiteral("A"), QStringLiteral("B")).message, problem);
        QCOMPARE(library.removeMotor(QStringLiteral("A")).message, problem);
        QCOMPARE(library.removeAllMotors().message, problem);
        QStringList names, dates;
        QVERIFY(!library.motorList(&names, &dates));
    }
};

QTEST_GUILESS_MAIN(TestMotorLibrary)
#include "tst_motorlibrary.moc"
