// Start-up cost of the application as the user meets it: the same session
// main() runs, on the offscreen platform, measured from the top of main().
#include "Generator.h"
#include "Index/SearchIndex.h"
#include "Shell/AppSession.h"
#include "Shell/MainWindow.h"
#include "Vault/ArchiveLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

QElapsedTimer sinceStart;

// The first paint of the window's content.
class FirstFrame : public QObject {
public:
  qint64 at = -1;

protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint && at < 0) at = sinceStart.elapsed();
    return false;
  }
};

double fileTime(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? double(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9 : 0;
}

// A vault of `count` generated messages with its index.json, as a vault
// looks after its first scan; made once and reused.
fs::path prepareVault(const fs::path& dir, int count) {
  const fs::path vault = dir / "vault";
  const bx::ArchiveLayout layout(vault);
  if (fs::exists(layout.indexURL())) return vault;
  std::fprintf(stderr, "generating %d messages in %s\n", count, dir.c_str());
  bench::generateVault(dir, count, 42);
  bx::SearchIndex index;
  for (const auto& entry : fs::recursive_directory_iterator(vault)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".eml") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string relative = fs::relative(entry.path(), vault).generic_string();
    auto [record, text] = bx::SearchIndex::makeRecord(buffer.str(), relative, fileTime(entry.path()));
    index.add(std::move(record), text);
  }
  fs::create_directories(layout.metaDirectory());
  index.save(layout.indexURL());
  return vault;
}

} // namespace

int main(int argc, char** argv) {
  sinceStart.start();
  const std::string mode = argc > 1 ? argv[1] : "empty";
  fs::path vault;
  const fs::path scratch = fs::temp_directory_path() / ("bx-shell-start-" + std::to_string(::getpid()));
  if (mode == "vault") {
    if (argc < 3) {
      std::fprintf(stderr, "usage: %s vault DIR [COUNT]\n", argv[0]);
      return 1;
    }
    vault = prepareVault(argv[2], argc > 3 ? std::atoi(argv[3]) : 100000);
    sinceStart.restart();
  } else {
    vault = scratch / "vault";
  }
  qputenv("BRINDLEBOX_ARCHIVE_DIR", QByteArray::fromStdString(vault.string()));
  qputenv("HOME", QByteArray::fromStdString((scratch / "home").string()));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((scratch / "config").string()));
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  bx::AppSession::configureApplication();
  qint64 longest = 0;
  qint64 frame = -1;
  {
    bx::AppSession session;
    FirstFrame first;
    session.window().installEventFilter(&first);
    session.start();

    // A 1 ms heartbeat: the longest gap between beats is the longest block.
    QElapsedTimer beat;
    beat.start();
    QTimer heart;
    heart.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heart, &QTimer::timeout, [&] {
      longest = std::max(longest, beat.restart());
    });
    heart.start(1);
    QTimer::singleShot(3000, &app, [] { QCoreApplication::quit(); });
    QApplication::exec();
    frame = first.at;
  }
  std::printf("mode %s\nfirst_frame_ms %lld\nlongest_gui_block_ms %lld\n", mode.c_str(), (long long)frame,
              (long long)longest);
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return 0;
}
