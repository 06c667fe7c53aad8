// Writes the update window in each phase and the Updates settings tab as
// PNG files, light and dark, for looking at by eye.
//
//   orrery_gallery OUTDIR

#include "Orrery/WindowHost.h"
#include "Updater/UpdateError.h"
#include "Updater/UpdateSettingsView.h"
#include "Updater/UpdateView.h"
#include "Updater/Updater.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

using namespace orrery;
using Phase = Updater::Phase;

static QPalette darkPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(40, 40, 42));
  p.setColor(QPalette::WindowText, QColor(235, 235, 235));
  p.setColor(QPalette::Base, QColor(30, 30, 32));
  p.setColor(QPalette::Text, QColor(235, 235, 235));
  p.setColor(QPalette::Button, QColor(60, 60, 64));
  p.setColor(QPalette::ButtonText, QColor(235, 235, 235));
  p.setColor(QPalette::Highlight, QColor(42, 157, 143));
  return p;
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  const QString out = app.arguments().value(1, QStringLiteral("."));
  QDir().mkpath(out);
  QPixmap icon(128, 128);
  icon.fill(Qt::transparent);
  {
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(30, 60, 114));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(8, 8, 112, 112), 26, 26);
    p.setBrush(QColor(42, 157, 143));
    p.drawEllipse(QRectF(40, 40, 48, 48));
  }
  QApplication::setWindowIcon(QIcon(icon));
  const QPalette light = QApplication::style()->standardPalette();

  Bundle bundle{QDir::tempPath() + "/no-such-install", {{"CFBundleShortVersionString", "1.4"},
                                                          {"OrreryUpdatePublicKey", "key"}}};
  Updater updater(bundle);
  UpdateFeed feed{"1.5", "https://example.com/", QStringLiteral("Faster search across every account, and a calmer "
                                                                 "backup strip. <b>Markup</b> shows as typed."),
                  std::nullopt, UpdateFeed::Download{"https://example.com/v.zip", 10, "sig"}};
  UpdateFeed bare = feed;
  bare.notes.reset();
  const std::pair<const char*, Phase> phases[] = {
      {"checking", Phase::checking()},
      {"uptodate", Phase::upToDate()},
      {"available", Phase::available(feed)},
      {"available-nonotes", Phase::available(bare)},
      {"downloading", Phase::downloading(feed, 0.42)},
      {"ready", Phase::ready(feed)},
      {"failed", Phase::failed(QStringLiteral("The update couldn\u2019t be downloaded. The server stopped sending data."))},
      {"nofeed", Phase::failed(UpdateMessages::noFeed(QStringLiteral("Brindlebox")))},
      {"refused", Phase::failed(UpdateMessages::unpackRefused +
                                QStringLiteral("its archive holds the link \u201CBrindlebox.app/t\u201D, which leads "
                                               "to or through another link."))},
  };
  for (const auto& [look, palette] : {std::pair{"light", light}, std::pair{"dark", darkPalette()}}) {
    QApplication::setPalette(palette);
    for (const auto& [name, phase] : phases) {
      updater.setPhaseForPreview(phase);
      WindowHost::close("update");
      WindowHost::show("update", "Software Update", 420, [&] { return new UpdateView(updater); });
      QWidget* w = WindowHost::window("update");
      QApplication::processEvents();
      w->adjustSize();
      w->grab().save(out + QStringLiteral("/update-%1-%2.png").arg(name, look));
    }
    updater.setPhaseForPreview(Phase::downloading(feed, 0.427));
    UpdateSettingsView settings(updater);
    settings.resize(settings.minimumSize());
    settings.show();
    QApplication::processEvents();
    settings.grab().save(out + QStringLiteral("/settings-min-%1.png").arg(look));
    settings.resize(640, 360);
    QApplication::processEvents();
    settings.grab().save(out + QStringLiteral("/settings-wide-%1.png").arg(look));
  }
  return 0;
}
