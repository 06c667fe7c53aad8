#pragma once

#include <QString>

namespace orrery {

// The one shell script that swaps the staged install folder in after the
// application has quit. Its arguments are positional parameters only:
//   $1 PID  $2 SRC (staged folder)  $3 DEST (install folder)
//   $4 RELAUNCH ("1" reopens)  $5 LAUNCHER (path inside DEST of the file that
//   starts the app, e.g. "bin/brindlebox")
//   $6 STAGING (the OrreryUpdate folder SRC must lie in)
extern const char* const installScript;

// When the application is still running a minute after quitting, the
// script installs nothing and leaves the note "still-running" in STAGING;
// the next run takes the staged update up again (Updater::start).

// Starts the script detached; false when it could not be started.
bool startInstallScript(qint64 pid, const QString& src, const QString& dest, bool relaunch, const QString& launcher,
                        const QString& staging);

} // namespace orrery
