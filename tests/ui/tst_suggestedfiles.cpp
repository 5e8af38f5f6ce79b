#include "ui/suggestedfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// The names the save dialogs start from, and the suffix added to a name typed without one.
class TestSuggestedFiles : public QObject
{
    Q_OBJECT

private slots:
    void suffixIsAddedOnlyWhenTheNameHasNone_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("no suffix") << "/tmp/esc12345" << "/tmp/esc12345.xml";
        QTest::newRow("own suffix") << "/tmp/esc12345.xml" << "/tmp/esc12345.xml";
        QTest::newRow("other suffix kept") << "/tmp/esc.backup" << "/tmp/esc.backup";
        QTest::newRow("dot in the folder only") << "/tmp/v1.2/esc" << "/tmp/v1.2/esc.xml";
        QTest::newRow("cancelled") << "" << "";
    }
    void suffixIsAddedOnlyWhenTheNameHasNone()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QCOMPARE(SuggestedFiles::withSuffix(typed, QStringLiteral("xml")), saved);
    }

    void suggestionIsTimeStampedInTheFolder()
    {
        QTemporaryDir folder;
        const QDateTime when(QDate(2026, 3, 7), QTime(9, 5, 2));
        QCOMPARE(SuggestedFiles::name(folder.path(), QStringLiteral("kordo-settings"), QStringLiteral("xml"), when),
                 QDir(folder.path()).filePath(QStringLiteral("kordo-settings-20260307-090502.xml")));
    }

    // A remembered folder that was removed, or none, falls back to the home folder.
    void missingFolderFallsBackToHome_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("none") << QString();
        QTest::newRow("removed") << QStringLiteral("/nonexistent/kordo/folder");
    }
    void missingFolderFallsBackToHome()
    {
        QFETCH(QString, folder);
        const QDateTime when(QDate(2026, 12, 31), QTime(23, 59, 59));
        QCOMPARE(SuggestedFiles::name(folder, QStringLiteral("kordo-plot"), QStringLiteral("png"), when),
                 QDir::home().filePath(QStringLiteral("kordo-plot-20261231-235959.png")));
    }
};

QTEST_GUILESS_MAIN(TestSuggestedFiles)
#include "tst_suggestedfiles.moc"
