#include "InstallScript.h"

#include <QProcess>

namespace orrery {

// Nothing in here is built from data: every value arrives as a quoted
// positional parameter, and every tool is named by its absolute path.
// The new copy is made beside DEST first and swapped in with two renames, so
// a kill or a full disk mid-copy leaves the old install runnable.
const char* const installScript = R"SH(PATH=/usr/bin:/bin
export PATH
PID=$1
SRC=$2
DEST=$3
RELAUNCH=$4
LAUNCHER=$5
STAGING=$6
case $PID in ''|*[!0-9]*) exit 0 ;; esac
case $DEST in /*/*|/?*) ;; *) exit 0 ;; esac
case $DEST in */|*/.|*/..) exit 0 ;; esac
case $STAGING in /*/OrreryUpdate) ;; *) exit 0 ;; esac
case $SRC in "$STAGING"/*/*) ;; *) exit 0 ;; esac
case ${SRC#"$STAGING"/} in */*/*|../*|./*|*/..|*/.) exit 0 ;; esac
case /$LAUNCHER/ in //|*//*|*/./*|*/../*) LAUNCHER= ;; esac
i=0
while kill -0 "$PID" 2>/dev/null && [ "$i" -lt 600 ]; do
  /bin/sleep 0.1
  i=$((i + 1))
done
if kill -0 "$PID" 2>/dev/null; then
  : > "$STAGING/still-running"
  exit 0
fi
NEW=$DEST.orrery-new
OLD=$DEST.orrery-old
/bin/rm -rf -- "$NEW" "$OLD"
if /bin/cp -a -- "$SRC" "$NEW"; then
  if /bin/mv -T -- "$DEST" "$OLD"; then
    if /bin/mv -T -- "$NEW" "$DEST"; then
      /bin/rm -rf -- "$OLD"
    else
      /bin/mv -T -- "$OLD" "$DEST"
    fi
  fi
fi
/bin/rm -rf -- "$NEW"
/bin/rm -rf -- "${SRC%/*}"
if [ "$RELAUNCH" = 1 ] && [ -n "$LAUNCHER" ] && [ -f "$DEST/$LAUNCHER" ] && [ -x "$DEST/$LAUNCHER" ]; then
  "$DEST/$LAUNCHER" </dev/null >/dev/null 2>&1 &
fi
exit 0
)SH";

bool startInstallScript(qint64 pid, const QString& src, const QString& dest, bool relaunch, const QString& launcher,
                        const QString& staging) {
  QProcess process;
  process.setProgram(QStringLiteral("/bin/sh"));
  process.setArguments({QStringLiteral("-c"), QString::fromUtf8(installScript), QStringLiteral("orrery-update"),
                        QString::number(pid), src, dest, relaunch ? QStringLiteral("1") : QStringLiteral("0"),
                        launcher, staging});
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  return process.startDetached();
}

} // namespace orrery
