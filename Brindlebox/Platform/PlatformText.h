#pragma once

#include <QString>

namespace bx {

// Texts that name a facility of another desktop read as their Linux
// equivalent here: "Show in Finder" -> "Show in Files", "Quick Look" ->
// "Preview", "this Mac’s Keychain" -> "your keyring", "this Mac" -> "this
// computer", and shortcut glyphs (⇧⌘B) -> "Ctrl+Shift+B". Every other text
// passes through unchanged. Every view text that may name such a facility
// goes through `localize`.
struct PlatformText {
  // Rewrites the phrases of the table and every shortcut in `text`.
  static QString localize(const QString& text);

  // One shortcut written with the glyphs ⌘ ⇧ ⌥ ⌃ before its key, e.g. "⇧⌘R",
  // as it reads here ("Ctrl+Shift+R"). Modifiers are written in the order
  // Ctrl, Alt, Shift; the key is kept as written.
  static QString shortcut(const QString& glyphs);
};

} // namespace bx
