#pragma once

#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

#include <functional>
#include <optional>

namespace bx {

class TextBlock;
class VaultButton;

// A note card with a coloured edge: the tone's symbol, a title, an optional
// text (at most 4 lines), bullet lines (each at most 2 lines) and an optional
// quiet compact action button, on the accent at 6 % with a 3 px accent edge
// bar at 70 % along its rounded left side. No border.
class SafetyNote : public ThemedWidget {
  Q_OBJECT
public:
  enum class Tone { Shield, Caution, Danger };

  struct Action {
    QString title;
    std::function<void()> handler;
  };

  SafetyNote(Tone tone, const QString& symbol, const QString& title, std::optional<QString> text = std::nullopt,
             const QStringList& lines = {}, std::optional<Action> action = std::nullopt,
             std::optional<QString> anchor = std::nullopt, QWidget* parent = nullptr);

  // Theme::seal, Theme::caution or Theme::danger.
  static ThemeColor accent(Tone tone);

  Tone tone() const { return tone_; }
  // The action button, when there is one (its "demoAnchor" property is the
  // anchor given, else "noteAction").
  VaultButton* actionButton() const { return button_; }
  TextBlock* titleBlock() const { return title_; }
  TextBlock* textBlock() const { return text_; }
  QList<TextBlock*> lineBlocks() const { return lines_; }

  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  Tone tone_;
  TextBlock* title_ = nullptr;
  TextBlock* text_ = nullptr;
  QList<TextBlock*> lines_;
  VaultButton* button_ = nullptr;
};

} // namespace bx
