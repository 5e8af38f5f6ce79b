#include "ui/units.h"
#include "app/translations.h"

#include <QDir>
#include <QtTest>

// One unit text per quantity and one number format per language, on every page.
class TestUnits : public QObject
{
    Q_OBJECT

    static QString builtLanguages()
    {
        return QDir(qEnvironmentVariable("KORDO_BIN_DIR")).filePath(Translations::DIRECTORY_NAME);
    }

private slots:
    void unitTextPerLanguage_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("unit");
        QTest::addColumn<QString>("text");
        const struct
        {
            Units::Unit unit;
            const char *english;
            const char *german;
        } rows[] = {
            {Units::Rpm, "rpm", "U/min"},
            {Units::Ohm, "\u03A9", "\u03A9"},
            {Units::MicroHenry, "\u00B5H", "\u00B5H"},
            {Units::VoltPerHertz, "V/Hz", "V/Hz"},
            {Units::Microsecond, "\u00B5s", "\u00B5s"},
            {Units::DegreeCelsius, "\u00B0C", "\u00B0C"},
            {Units::NewtonMetre, "Nm", "Nm"},
            {Units::Percent, "%", "%"},
        };
        for (const auto &row : rows) {
            QTest::addRow("en %s", row.english) << "en" << int(row.unit) << QString::fromUtf8(row.english);
            QTest::addRow("de %s", row.german) << "de" << int(row.unit) << QString::fromUtf8(row.german);
        }
    }
    void unitTextPerLanguage()
    {
        QFETCH(QString, language);
        QFETCH(int, unit);
        QFETCH(QString, text);
        Translations translations(builtLanguages());
        translations.load(language);
        QCOMPARE(translations.isProgramTranslationInstalled(), language != QLatin1String("en"));
        QCOMPARE(Units::text(Units::Unit(unit)), text);
    }

    // Every telemetry quantity has the unit of its value.
    void quantityUnits_data()
    {
        QTest::addColumn<int>("quantity");
        QTest::addColumn<int>("unit");
        QTest::newRow("none") << 0 << int(Units::None);
        QTest::newRow("speed") << 2 << int(Units::Rpm);
        QTest::newRow("pwm input") << 7 << int(Units::Microsecond);
        QTest::newRow("resistance") << 8 << int(Units::Ohm);
        QTest::newRow("flux") << 9 << int(Units::VoltPerHertz);
        QTest::newRow("temperature") << 10 << int(Units::DegreeCelsius);
        QTest::newRow("beyond the list") << 11 << int(Units::None);
        QTest::newRow("negative") << -1 << int(Units::None);
    }
    void quantityUnits()
    {
        QFETCH(int, quantity);
        QFETCH(int, unit);
        QCOMPARE(int(Units::ofQuantity(quantity)), unit);
    }

    void numbersFollowTheLanguage_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("text");
        QTest::newRow("en") << "en" << QString::fromUtf8("20000.0500 \u03A9");
        QTest::newRow("de") << "de" << QString::fromUtf8("20000,0500 \u03A9");
    }
    void numbersFollowTheLanguage()
    {
        QFETCH(QString, language);
        QFETCH(QString, text);
        Translations translations(builtLanguages());
        translations.load(language);
        QCOMPARE(Units::withUnit(20000.05, 4, Units::Ohm), text);
    }
};

QTEST_GUILESS_MAIN(TestUnits)
#include "tst_units.moc"
