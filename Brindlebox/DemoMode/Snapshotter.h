#pragma once
// Screenshots of the real interface: find the main window, render a window
// (web content included) into a PNG under a shot name, shoot the open sheet
// and each settings tab, and the screenshot script that stages every scene.
#include "Async/Task.h"

#include <QImage>
#include <QString>

#include <filesystem>

class QPainter;
class QRectF;
class QWidget;

namespace bx {

class AppStore;

struct Snapshotter {
  // BRINDLEBOX_SNAPSHOT_DIR; without it this user's private temp folder
  // (never the shared temp folder, where others could plant links).
  static std::filesystem::path dir();
  // BRINDLEBOX_SNAPSHOT_APPEARANCE is exactly "dark".
  static bool dark();
  // The first visible plain window whose object name is empty or holds "main".
  static QWidget* mainWindow();
  // Where a window's own pixels come from: drawn afresh (shots), or what
  // it last put on screen (movie frames: drawing a whole window again costs
  // more than a frame may take).
  enum class Source { redraw, screen };
  // The window as it looks on screen: its pixels, each web view's live page
  // in its place, and what the window stacks above a page (toasts,
  // popovers, overlays) over it. With `pageMaxAgeMs` above 0 a page grabbed
  // that recently (same view, size and document) is reused: reading a page
  // back costs more than a movie frame may take, and a page seldom changes
  // between frames.
  static QImage render(QWidget* window, int pageMaxAgeMs = 0, Source source = Source::redraw);
  // A movie frame's picture of the window: what it last put on screen, with
  // pages grabbed at most a quarter of a second ago, drawn at `target`
  // straight into the frame.
  static void paintMovieFrame(QPainter& p, QWidget* window, const QRectF& target);
  // The same as an image of its own.
  static QImage movieFrame(QWidget* window);
  static orrery::Task<> capture(QWidget* window, QString name);
  static orrery::Task<> shotSheet(QString name);
  static orrery::Task<> settingsShots(AppStore& store);
  // The shot file's path for a name ("dark-" in the dark run).
  static std::filesystem::path fileFor(const QString& name);
  // Written beside the final name and renamed over it: a link planted at the
  // name is replaced, never followed, and no half file is left.
  static bool write(const QImage& image, const QString& name);
  static orrery::Task<> pause(double seconds);
  // The attached sheet of the main window, else the first visible sheet.
  static QWidget* openSheet();

  // The screenshot script (BRINDLEBOX_SNAPSHOT_DIR).
  static orrery::Task<> run();
};

} // namespace bx
