#pragma once

#include "Theme/ThemeColor.h"

#include <QFont>

namespace bx {

// The application's one look: colour tokens that follow the appearance, the
// card radius and the fonts. Sizes are pixels at device pixel ratio 1.
struct Theme {
  static constexpr ThemeColor paper = ThemeColor::dynamic(0xF4F6F8, 0x0E1420);
  static constexpr ThemeColor panel = ThemeColor::dynamic(0xFFFFFF, 0x151C2A);
  static constexpr ThemeColor raised = ThemeColor::dynamic(0xFAFBFC, 0x1A2233);
  static constexpr ThemeColor rule = ThemeColor::dynamic(0x0F1B2D, 0xFFFFFF, 0.09, 0.08);
  static constexpr ThemeColor ruleStrong = ThemeColor::dynamic(0x0F1B2D, 0xFFFFFF, 0.16, 0.14);
  static constexpr ThemeColor ink = ThemeColor::dynamic(0x142033, 0xE6EAF1);
  static constexpr ThemeColor ink2 = ThemeColor::dynamic(0x566173, 0x9BA6B6);
  static constexpr ThemeColor ink3 = ThemeColor::dynamic(0x8A94A3, 0x6B7688);
  static constexpr ThemeColor seal = ThemeColor::dynamic(0x23877B, 0x45C2B1);
  static constexpr ThemeColor focus = ThemeColor::dynamic(0x1E3C72, 0x5F8BD8);
  static constexpr ThemeColor caution = ThemeColor::dynamic(0xA86A12, 0xE2AE55);
  static constexpr ThemeColor danger = ThemeColor::dynamic(0xA63D35, 0xE5847A);
  static constexpr ThemeColor selection = ThemeColor::dynamic(0x1E3C72, 0x5F8BD8, 0.10, 0.20);
  static constexpr ThemeColor hover = ThemeColor::dynamic(0x0F1B2D, 0xFFFFFF, 0.04, 0.05);

  // The same in both appearances; also the kit's first brand colour.
  static constexpr ThemeColor navy = ThemeColor::fixed(0x1E3C72);

  // The toolkit's primary label colour (black on light, white on dark), used
  // by the hover highlight.
  static constexpr ThemeColor primary = ThemeColor::dynamic(0x000000, 0xFFFFFF);
  static constexpr ThemeColor white = ThemeColor::fixed(0xFFFFFF);
  static constexpr ThemeColor black = ThemeColor::fixed(0x000000);

  // Card corner radius.
  static constexpr qreal rCard = 10;

  struct Font {
    static QFont display();   // 28 semibold
    static QFont title();     // 20 semibold
    static QFont month();     // 19 semibold
    static QFont headline();  // 13 semibold
    static QFont label();     // 10 semibold
    static QFont body();      // 13
    static QFont callout();   // 12
    static QFont caption();   // 11

    // The system font at `pixels` (fractions round to whole pixels) in the
    // given weight, or the system's monospaced font when `monospaced`.
    static QFont system(qreal pixels, QFont::Weight weight = QFont::Normal, bool monospaced = false);
    // `base` with another weight.
    static QFont weighted(QFont base, QFont::Weight weight);
  };
};

} // namespace bx
