#pragma once

#include <QString>
#include <QStringList>
#include <QLocale>
#include <QTranslator>

// The program's two translations (its own texts and Qt's) for one language at a time,
// read from "kordo_<code>.qm" and "qt_<code>.qm" in the languages directory.
class Translations
{
public:
    static const QString DIRECTORY_NAME; // "languages"

    explicit Translations(const QString &languagesDirectory);
    ~Translations();

    // The system locale's name cut at its last "_" ("de_DE" gives "de").
    static QString systemLanguage();

    // The codes of the program translations present, in file name order.
    QStringList availableLanguages() const;
    QString currentLanguage() const { return m_current; }
    bool isProgramTranslationInstalled() const { return m_programInstalled; }
    bool isQtTranslationInstalled() const { return m_qtInstalled; }

    // Switches to the language unless it is the current one: installs each of the two
    // translations that loads, and sets the default locale to match the texts (the
    // language when its translation loaded, English otherwise).
    void load(const QString &code);
    // At start: the system language when a translation for it is present; otherwise the
    // program's own texts (English) stay. Returns the code loaded, or an empty string.
    QString loadStartLanguage(const QString &systemLanguage);

private:
    void removeInstalled();
    // Numbers follow the language of the texts; no group separators, so that a plot's
    // axis and a value beside it read alike ("20000").
    static void setNumberLocale(const QLocale &locale);

    QString m_directory;
    QString m_current;
    QTranslator m_program;
    QTranslator m_qt;
    bool m_programInstalled = false;
    bool m_qtInstalled = false;
};
