#pragma once

#include <QSet>
#include <QString>

// The output subfolders of one run. Two listed PDFs of one name would write into one folder and
// the later would replace the earlier's images, so a name taken in this run gets a suffix users
// know from file managers: "report", "report (2)", "report (3)"... What stands on disk from
// earlier runs is reused as it is.
class RunFolders {
public:
    // The folder name for a PDF of base name `base`, claimed for the rest of the run.
    QString Claim(const QString& base);

private:
    QSet<QString> m_taken;
};

// Makes sure `folder` is a real folder to write into: an existing folder is used, a missing one
// is created with its parents. Returns an empty text, or the
// reason it cannot be used (the system's text for the failure; a symbolic link is refused, not
// followed, as it may lead anywhere). *created tells whether this call made the folder.
QString PrepareSubfolder(const QString& folder, bool* created = nullptr);
