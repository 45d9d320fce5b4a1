#pragma once

#include <QString>

// The main window's start-up and shutdown steps that do not touch its widgets.

// LibraryDir set-up at start-up (SetUpLibraryDir): the user's private working folder. Only when
// no private folder can be made at all is there an error box naming the reason; LibraryDir then
// stays empty and the program runs on without a renderer.
void SetUpLibraryDirAtStart();

// First showing: reveals the two package passwords in one go.
void RevealPackagePasswords();

// The close question. Without a worker, or when no conversion runs, closing is allowed at once.
// Otherwise the worker is paused while "Are you sure you want to stop processing?" is asked;
// Yes lets it run on with the terminate request (and ends the progress polling), No lets it run
// on as before. Returns whether the window may close. An error on the way is shown as
// "Error: <message>" and closing is allowed.
bool AskCloseDuringConversion(bool conversionRunning);

// Destruction: asks a worker still at work to stop, waits until no worker and no package check
// uses the job list or the package files any more, then frees the job list and deletes the
// rendering library and its companion.
void ReleaseJobsAndPackage();

// WM_CREATETEMPLIB: unpacks the rendering package into LibraryDir on a thread of its own and
// returns at once; an error is shown in an error box with the error's own message. A request
// while one runs is left to that one.
void CreateTempLib();

// GUI thread: waits until no extraction runs, answering message boxes meanwhile.
void WaitForExtraction();
