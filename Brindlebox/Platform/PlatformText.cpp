#include "Platform/PlatformText.h"

#include <QStringList>
#include <utility>

namespace bx {

namespace {

// Longest phrases first, so a shorter entry never cuts into a longer one.
const std::pair<const char16_t*, const char16_t*> kPhrases[] = {
    // The welcome page's hint names the other desktop's mail app.
    {u"Already in Apple Mail? Mailbox \u203A Export Mailbox\u2026 gives you an .mbox to import here.",
     u"Already in Evolution? Select the messages, then File \u203A Save as mbox\u2026 gives you an .mbox to "
     u"import here."},
    // The update window's hint when the install folder cannot be replaced:
    // there is no Applications folder here, only folders one may write to.
    {u" to your Applications folder to get updates automatically.",
     u" to a folder you can write to, such as one in your home folder, to get updates automatically."},
    {u"this Mac\u2019s Keychain", u"your keyring"},
    {u"your Mac\u2019s Keychain", u"your keyring"},
    {u"the login keychain", u"your keyring"},
    {u"Reveal in Finder", u"Show in Files"},
    {u"Show in Finder", u"Show in Files"},
    {u"in Finder", u"in Files"},
    {u"Quick Look", u"Preview"},
    {u"on your Mac", u"on this computer"},
    {u"to this Mac", u"to this computer"},
    {u"this Mac", u"this computer"},
    {u"your Mac", u"your computer"},
    {u"Keychain", u"keyring"},
};

constexpr char16_t kCommand = 0x2318;  // ⌘
constexpr char16_t kShift = 0x21E7;    // ⇧
constexpr char16_t kOption = 0x2325;   // ⌥
constexpr char16_t kControl = 0x2303;  // ⌃

bool isModifier(QChar c) {
  const char16_t u = c.unicode();
  return u == kCommand || u == kShift || u == kOption || u == kControl;
}

} // namespace

QString PlatformText::shortcut(const QString& glyphs) {
  bool ctrl = false, alt = false, shift = false;
  int i = 0;
  for (; i < glyphs.size(); ++i) {
    const char16_t c = glyphs[i].unicode();
    if (c == kCommand || c == kControl) ctrl = true;
    else if (c == kOption) alt = true;
    else if (c == kShift) shift = true;
    else break;
  }
  QString out;
  if (ctrl) out += QStringLiteral("Ctrl+");
  if (alt) out += QStringLiteral("Alt+");
  if (shift) out += QStringLiteral("Shift+");
  out += glyphs.mid(i);
  return out;
}

QString PlatformText::localize(const QString& text) {
  QString s = text;
  for (const auto& [from, to] : kPhrases)
    s.replace(QString::fromUtf16(from), QString::fromUtf16(to));
  // Each run of modifier glyphs takes the one character after it as its key.
  QString out;
  out.reserve(s.size() + 16);
  for (int i = 0; i < s.size();) {
    if (!isModifier(s[i])) {
      out += s[i++];
      continue;
    }
    int j = i;
    while (j < s.size() && isModifier(s[j])) ++j;
    const int keyLength = (j < s.size()) ? (s[j].isHighSurrogate() && j + 1 < s.size() ? 2 : 1) : 0;
    out += shortcut(s.mid(i, j - i + keyLength));
    i = j + keyLength;
  }
  return out;
}

} // namespace bx
