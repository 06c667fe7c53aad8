#pragma once

#include "Platform/Appearance.h"

#include <QByteArray>

#include <string>
#include <string_view>

namespace bx {

// The reader's own sheet, put in a body document's head:
//  - the plain-text page gets its colours for the appearance the reader
//    draws in (the engine is never told the desktop's preference);
//  - lines stop at a readable width on a wide pane, centred.
struct ReaderPage {
  static std::string sheet(bool plainText, ColorScheme scheme);
  static QByteArray withSheet(std::string_view document, bool plainText, ColorScheme scheme);

  // Widest run of the body, in CSS pixels.
  static constexpr int maxLineWidth = 880;
};

} // namespace bx
