#include "AppTestSupport.h"

#include "Theme/Icons.h"

#include <QFile>
#include <QPainter>
#include <QTextStream>

using namespace bx;

namespace {

QStringList tableSymbols() {
  QFile f(qEnvironmentVariable("BX_SOURCE_DIR", BX_SOURCE_DIR_FALLBACK) + "/Brindlebox/Resources/icons.tsv");
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
  QStringList out;
  QTextStream in(&f);
  while (!in.atEnd()) {
    const QString line = in.readLine();
    if (line.isEmpty() || line.startsWith('#')) continue;
    out << line.section('\t', 0, 0);
  }
  return out;
}

} // namespace

TEST(Icons, EverySymbolOfTheTableIsCompiledInAndDrawsInItsTint) {
  const QStringList symbols = tableSymbols();
  ASSERT_GT(symbols.size(), 50);
  EXPECT_EQ(Icons::symbols().size(), symbols.size());
  const QColor tint(0x23, 0x87, 0x7B);
  for (const QString& s : symbols) {
    SCOPED_TRACE(s.toStdString());
    ASSERT_TRUE(Icons::has(s));
    const QImage img = Icons::pixmap(s, 14, tint, 2.0).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(img.width(), qCeil(Icons::boxSize(14) * 2));
    int inked = 0, offTint = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const QColor c = img.pixelColor(x, y);
        if (c.alpha() < 255) continue;  // edges carry premultiplication rounding
        ++inked;
        if (!bx::test::near(c, tint, 3)) ++offTint;
      }
    EXPECT_GT(inked, 10);       // not blank
    EXPECT_EQ(offTint, 0);      // one colour: the tint
  }
}

TEST(Icons, SymbolsTheViewsNameAreInTheTable) {
  // A few names used across the interface, including ones drawn by the pieces themselves.
  for (const char* s : {"checkmark", "checkmark.shield.fill", "exclamationmark.triangle", "eye.slash", "lock.fill",
                        "person.crop.circle.badge.questionmark", "arrow.triangle.2.circlepath", "tray", "paperplane",
                        "xmark.bin", "y.circle.fill", "server.rack"})
    EXPECT_TRUE(Icons::has(s)) << s;
}

TEST(Icons, AnUnknownSymbolDrawsNothing) {
  EXPECT_FALSE(Icons::has("no.such.symbol"));
  QImage img(20, 20, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  Icons::paint(p, QRectF(0, 0, 20, 20), "no.such.symbol", Qt::red);
  p.end();
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(qAlpha(img.pixel(x, y)), 0);
}
