#pragma once

#include "Platform/Appearance.h"
#include "Platform/ReduceMotion.h"
#include "Theme/Motion.h"

#include <QColor>
#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>

namespace bx::test {

// Pins appearance and Reduce Motion for one test and lets animations jump to
// their end, restoring everything afterwards.
class PinnedLook : public ::testing::Test {
protected:
  void SetUp() override {
    Appearance::shared().setOverride(ColorScheme::Light);
    ReduceMotion::shared().setOverride(false);
    Motion::setInstant(true);
  }
  void TearDown() override {
    Motion::setInstant(false);
    Appearance::shared().setOverride(std::nullopt);
    ReduceMotion::shared().setOverride(std::nullopt);
  }
};

// Draws the widget (and its children) on a transparent image, without the
// window background a top-level grab would add.
inline QImage render(QWidget& w) {
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.show();
  QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
  return img.convertToFormat(QImage::Format_ARGB32);
}

// Colours equal within `tolerance` per channel (rounding in the paint path).
inline bool near(const QColor& a, const QColor& b, int tolerance = 2) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

inline std::string describe(const QColor& c) {
  return c.name(QColor::HexArgb).toStdString();
}

} // namespace bx::test
