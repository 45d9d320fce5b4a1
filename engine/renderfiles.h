#pragma once

#include <QString>

// Whether the rendering library and its companion lie in LibraryDir. False as long as the
// package names are not known yet.
bool RenderFilesPresent();

// Full path of the rendering library in LibraryDir.
QString RenderLibraryPath();

// Starts the package check on a thread of its own and returns at once (probe pass).
void StartPackageCheck();

// Runs the package check on this thread (conversion pass); it returns once it has asked the GUI
// thread to unpack the package.
void RunPackageCheck();

// How many extractions of the package have ended, successfully or not.
int ExtractionsEnded();
