#include "Store/AppStore.h"
#include "UITest/UITest.h"

#include <QFile>
#include <QStringDecoder>

namespace bx::UITest {

QStringList requests(const QString& logPath) {
  QFile file(logPath);
  if (logPath.isEmpty() || !file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decode(bytes);
  if (decode.hasError()) return {};
  return text.split(u'\n', Qt::SkipEmptyParts);
}

QString requestListText(const QStringList& lines) {
  QString out = QStringLiteral("[");
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (i) out += QStringLiteral(", ");
    out += u'"';
    for (QChar c : lines[i]) {
      switch (c.unicode()) {
      case '"': out += QStringLiteral("\\\""); break;
      case '\\': out += QStringLiteral("\\\\"); break;
      case '\n': out += QStringLiteral("\\n"); break;
      case '\r': out += QStringLiteral("\\r"); break;
      case '\t': out += QStringLiteral("\\t"); break;
      default:
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
          out += QStringLiteral("\\u{%1}").arg(c.unicode(), 0, 16);
        else
          out += c;
      }
    }
    out += u'"';
  }
  return out + u']';
}

namespace {
bool anyContains(const QStringList& lines, const QStringList& markers) {
  for (const QString& line : lines)
    for (const QString& m : markers)
      if (line.contains(m, Qt::CaseSensitive)) return true;
  return false;
}
}  // namespace

orrery::Task<> runNetwork() {
  const auto env = QProcessEnvironment::systemEnvironment();
  const QString name = QStringLiteral("BRINDLEBOX_UITEST_NETWORK");
  if (!env.contains(name)) co_return;
  const QString log = env.value(name);
  AppStore* store = AppStore::shared();
  if (!store) {
    fail(QStringLiteral("fixture has remote images"));
    quitter()(1);
    co_return;
  }
  {
    auto ready = wait(30, [store] { return networkReady(*store); });
    co_await ready;
  }
  std::vector<QString> paths;
  for (const auto& r : store->records()) paths.push_back(QString::fromStdString(r.path));
  for (const QString& path : paths) {
    store->setSelectedPath(path);
    auto opened = wait(5, [store, path] { return messageOpened(*store, path); });
    co_await opened;
    co_await orrery::pause(2500);
  }
  { auto shot = capture(QStringLiteral("net-1-reading")); co_await shot; }
  check(requests(log).isEmpty(), QStringLiteral("reading %1 messages made no network requests (").arg(store->records().size()) +
                                     requestListText(requests(log)) + u')');

  std::optional<QString> remote;
  for (const auto& r : store->records()) {
    if (r.remoteImages > 0) {
      remote = QString::fromStdString(r.path);
      break;
    }
  }
  if (!remote) {
    // This path ends without a result line, but the status still says so.
    fail(QStringLiteral("fixture has remote images"));
    quitter()(1);
    co_return;
  }
  const QString path = *remote;
  store->setSelectedPath(path);
  {
    auto opened = wait(5, [store, path] { return messageOpened(*store, path); });
    co_await opened;
  }
  store->allowImages(path);
  co_await orrery::pause(4000);
  { auto shot = capture(QStringLiteral("net-2-images-allowed")); co_await shot; }
  const QStringList all = requests(log);
  check(anyContains(all, {QStringLiteral("hero")}),
        QStringLiteral("allowing images loads the real image (") + requestListText(all) + u')');
  check(!anyContains(all, {QStringLiteral("pixel"), QStringLiteral("open.gif")}),
        QStringLiteral("tracking pixels stay blocked after allowing images"));
  check(!anyContains(all, {QStringLiteral(".css"), QStringLiteral(".js"), QStringLiteral(".html"),
                           QStringLiteral("link-track")}),
        QStringLiteral("remote CSS, scripts, frames and links never load (") + requestListText(all) + u')');
  finish();
}

}  // namespace bx::UITest
