#pragma once

#include <QString>
#include <QStringList>
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

    // Switches to the language unless it is the current one: sets the default locale and
    // installs each of the two translations that loads.
    void load(const QString &code);

private:
    void removeInstalled();

    QString m_directory;
    QString m_current;
    QTranslator m_program;
    QTranslator m_qt;
    bool m_programInstalled = false;
    bool m_qtInstalled = false;
};
