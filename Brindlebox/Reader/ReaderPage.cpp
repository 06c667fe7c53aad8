#include "Reader/ReaderPage.h"

#include "Safety/HTMLInspector.h"
#include "Theme/Theme.h"

#include <QColor>

namespace bx {

namespace {

std::string css(const ThemeColor& color, ColorScheme scheme) {
  const QColor c = color.resolve(scheme);
  return QStringLiteral("rgba(%1,%2,%3,%4)")
      .arg(c.red())
      .arg(c.green())
      .arg(c.blue())
      .arg(QString::number(c.alphaF(), 'f', 3))
      .toStdString();
}

}  // namespace

std::string ReaderPage::sheet(bool plainText, ColorScheme scheme) {
  const std::string width = std::to_string(maxLineWidth) + "px";
  std::string out = "<style id=\"bx-reader\">\n";
  if (plainText) {
    // Two type selectors outweigh the page's own `body` and its media query.
    const bool dark = scheme == ColorScheme::Dark;
    out += std::string("html:root{color-scheme:") + (dark ? "dark" : "light") + "}\n";
    out += "html body{color:" + css(Theme::ink, scheme) + "}\n";
    out += "html a{color:" + css(Theme::focus, scheme) + "}\n";
  }
  // Only a pane wider than the column and its side margins centres it; a
  // narrower one keeps the page's (or the message's) own margins. Two type
  // selectors outweigh the page's and a message's plain `body` rules
  // wherever they come; anything more particular in the message still wins.
  out += "@media (min-width:" + std::to_string(maxLineWidth + 44) +
         "px){html body{max-width:" + width + ";margin-left:auto;margin-right:auto}}\n";
  out += "</style>";
  return out;
}

QByteArray ReaderPage::withSheet(std::string_view document, bool plainText, ColorScheme scheme) {
  // In the head, right after the page's own head: a sheet that arrives after
  // the whole body makes the engine style a large body twice over (a 20 MB
  // body took minutes instead of tens of seconds). A document made
  // elsewhere gets it at the end.
  size_t at = document.size();
  const std::string_view ownHead = HTMLInspector::displayHead(), textHead = HTMLInspector::plainTextHead();
  if (document.substr(0, textHead.size()) == textHead) {
    at = textHead.rfind("</head>");
  } else if (const size_t head = document.find(ownHead); head != std::string_view::npos) {
    at = head + ownHead.size();
  }
  const std::string own = sheet(plainText, scheme);
  QByteArray out;
  out.reserve(qsizetype(document.size() + own.size()));
  out.append(document.data(), qsizetype(at));
  out.append(own.data(), qsizetype(own.size()));
  out.append(document.data() + at, qsizetype(document.size() - at));
  return out;
}

} // namespace bx
