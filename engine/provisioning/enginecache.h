#pragma once

// A per-user cache of the unpacked rendering package, so that only the first run after an
// install or update pays for unpacking it.

#include <QString>

// The folder, ending with "/", that holds the rendering library and its companion unpacked from
// the package at packagePath. The cache lives in "<private runtime folder>pixolund-engine/", else
// in "$XDG_CACHE_HOME/pixolund/engine/" (~/.cache when unset), with one entry per package
// content (its SHA-256). An entry is published whole by a rename, checked against its manifest
// on every call, and rebuilt when damaged. Any thread, and any number of processes at once.
// Empty, with an English reason in *error, when the cache cannot be used.
QString PrepareEngineCache(const QString& packagePath, QString* error);
