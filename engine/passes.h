#pragma once

#include <QString>
#include <QtGlobal>

class TProcThread;

// The passes a worker runs; each reports through window messages and entry fields.
void ProbeAllPass(TProcThread& worker);
void UnlockPass(TProcThread& worker);
void ConvertPass(TProcThread& worker);

// Asks a render call of a running conversion pass to stop at once (the close question's Yes and
// shutdown); the pass then ends without posting anything, as it does for a terminate request.
// Does nothing when no library is loaded or it lacks the entry. GUI thread.
void CancelRendering();

// How many files a conversion pass converts at once (1 unless changed; at least 1). With more
// than one, files are taken up in list order but finish in any order, and the engine's page
// progress of a file is not reported. Set before the pass starts.
void SetConvertJobs(int jobs);

// Whether a file without a page count is converted to its end, the engine counting its pages
// (the command, which does not probe), or fails as a page count that is no number (false, the
// window's rule). Set before the pass starts.
void SetConvertUncounted(bool toTheEnd);

// How long a conversion pass waits for the package to be unpacked before it loads the library
// (30 s unless changed; tests shorten it).
void SetExtractionWaitLimit(int milliseconds);

// What one run of the information tool says about a file.
enum class ProbeOutcome { Readable, Protected, NotReadable };

struct ProbeClassification {
    ProbeOutcome outcome = ProbeOutcome::NotReadable;
    QString pages;
};

// Exit code 0: readable, with the page count from the "Pages:" line; exit code 1 with
// "incorrect password" in any letter case: protected; anything else: not readable.
ProbeClassification ClassifyProbe(quint32 exitCode, const QString& output);

// A run of the information tool still going after this long is killed and its file counts as
// not readable (120 s unless changed; tests shorten it).
void SetProbeTimeLimit(int milliseconds);

// Runs the information tool once (probe or unlock command line) under the time limit above and
// classifies the run; a tool that overran counts as not readable. A password is handed to the
// tool as the first line of its standard input. Throws when it cannot start.
ProbeClassification RunInfoTool(const QString& commandLine, const QString* password = nullptr);

// The file name without its extension (the last "." and what follows, unless a "/" follows it).
QString StripExtension(const QString& fileName);

// OutputFolder/B/B for a file name with base B; empty for an empty name.
QString OutputBasePath(const QString& fileName);
