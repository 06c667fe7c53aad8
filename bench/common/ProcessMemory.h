#pragma once
// Resident memory of a benchmark and of the processes it started (the web
// engine's renderers), read from /proc.

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace bx::bench {

inline long rssKiB(long pid) {
  QFile f(QStringLiteral("/proc/%1/status").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return 0;
}

// This process and every process it started.
inline long totalRssKiB() {
  const long self = QCoreApplication::applicationPid();
  long sum = rssKiB(self);
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool ok = false;
    const long pid = entry.toLong(&ok);
    if (!ok || pid == self) continue;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray s = stat.readAll();
    const auto fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 1 && fields[1].toLong() == self) sum += rssKiB(pid);
  }
  return sum;
}

}  // namespace bx::bench
