#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

const QString Translations::DIRECTORY_NAME = QStringLiteral("languages");

Translations::Translations(const QString &languagesDirectory)
    : m_directory(languagesDirectory)
{
}

Translations::~Translations()
{
    removeInstalled();
}

QString Translations::systemLanguage()
{
    const QString name = QLocale::system().name();
    const int cut = name.lastIndexOf(QLatin1Char('_'));
    return cut < 0 ? name : name.left(cut);
}

QStringList Translations::availableLanguages() const
{
    QStringList codes;
    const QStringList files = QDir(m_directory).entryList({QStringLiteral("kordo_*.qm")}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        const QString base = QFileInfo(file).completeBaseName();
        codes.append(base.mid(base.indexOf(QLatin1Char('_')) + 1));
    }
    return codes;
}

void Translations::load(const QString &code)
{
    if (code == m_current)
        return;
    m_current = code;
    removeInstalled();
    m_programInstalled = m_program.load(QStringLiteral("kordo_%1.qm").arg(code), m_directory)
                         && QCoreApplication::installTranslator(&m_program);
    m_qtInstalled = m_qt.load(QStringLiteral("qt_%1.qm").arg(code), m_directory)
                    && QCoreApplication::installTranslator(&m_qt);
    setNumberLocale(m_programInstalled ? QLocale(code) : QLocale(QLocale::English));
}

QString Translations::loadStartLanguage(const QString &systemLanguage)
{
    if (systemLanguage.isEmpty() || !availableLanguages().contains(systemLanguage)) {
        setNumberLocale(QLocale(QLocale::English));
        return QString();
    }
    load(systemLanguage);
    return m_programInstalled ? systemLanguage : QString();
}

void Translations::setNumberLocale(const QLocale &locale)
{
    QLocale numbers(locale);
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    QLocale::setDefault(numbers);
}

void Translations::removeInstalled()
{
    if (m_programInstalled)
        QCoreApplication::removeTranslator(&m_program);
    if (m_qtInstalled)
        QCoreApplication::removeTranslator(&m_qt);
    m_programInstalled = m_qtInstalled = false;
}
