#pragma once

#include <QString>

// Whether a folder text can be used as output folder: it must be an absolute path; an existing
// folder is usable; a missing one is created with one single-level creation (missing parents are
// not created) and is usable when that succeeds.
bool CheckOutputFolder(const QString& folder);
