#pragma once

#include "motors/motorresult.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class DbManager;

// Exports motors of the database to a motor file and imports them back (file format in
// motorfile.h, enciphered with MotorFile::PROGRAM_KEY).
//
// Both are all or nothing: an export writes its file atomically or not at all; an
// import stores every motor of the file in one transaction (after deleting the old list
// on "Overwrite") or, at the first damaged line or failed store, changes nothing.
//
// The coordinator (AppBase) owns one beside its DbManager, in the GUI thread, and its
// operations forward one line each:
//   bool AppBase::exportMotors(QString fileName, QStringList names, QStringList datetimes)
//   { return m_motorFiles.exportMotors(fileName, names, datetimes).ok; }
//   bool AppBase::importMotors(QString fileName, bool overwrite)
//   { return m_motorFiles.importMotors(fileName, overwrite).ok; }
// On failure the main window shows the result's message ("Export failed!" /
// "Import failed!") in a critical box titled "Error".
class MotorFileExchange
{
    Q_DECLARE_TR_FUNCTIONS(MotorFileExchange)

public:
    explicit MotorFileExchange(DbManager &database);

    // Writes names[i] with datetimes[i] (the dates as the database lists them). A file that
    // cannot be written whole is not written at all; the result's reason says why.
    MotorResult exportMotors(const QString &fileName, const QStringList &names, const QStringList &datetimes);
    // `overwrite`: the file's motors replace the whole list; otherwise they are added,
    // replacing motors of the same name. A file without motors is refused ("nothing to
    // import") whatever the mode. The file is read and parsed once; on failure the
    // result's reason tells the user why.
    MotorResult importMotors(const QString &fileName, bool overwrite);

private:
    // `why` goes to the debug output, `reason` (translated) to the user.
    MotorResult exportFailed(const QString &why, const QString &reason = QString()) const;
    MotorResult importFailed(const QString &why, const QString &reason) const;

    DbManager &m_database;
};
