#pragma once

#include <QString>

// Where the program's own files are, told by where the executable lives.
// Installed: the executable is in PREFIX/bin and PREFIX/share/kordoman exists (the install
// target puts the translations there). The program then keeps its data in the per-user
// data directory, never beside the executable. Otherwise (an unpacked or freshly built
// program) everything stays beside the executable: the portable layout.
class InstallLayout
{
public:
    static const QString SHARE_DIRECTORY; // "share/kordoman", relative to the prefix

    static InstallLayout detect(const QString &executableDir);
    static InstallLayout ofRunningProgram();

    bool isInstalled() const { return !m_shareDir.isEmpty(); }
    // The directory holding the "kordo_<code>.qm" translations.
    QString languagesDirectory() const;
    // The executable's directory when the portable layout may keep data there; empty
    // for an installed program.
    QString portableDataDirectory() const;

private:
    QString m_executableDir;
    QString m_shareDir; // empty: portable layout
};
