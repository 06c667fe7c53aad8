#pragma once

#include <QHash>
#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace orrery {

// Named places of the interface that the demo script aims at. A tagged
// widget reports its frame, in global screen coordinates (logical pixels,
// origin top-left as Qt gives them), each time it is shown, moved or resized
// while it is in a shown window; the table keeps the last report of every id
// for the life of the process, also after the widget is gone. Rows that a
// list paints itself (no widget of their own) come from a provider that the
// list registers for an id prefix and that answers with the row's rectangle
// on lookup.
//
// Reporting is one mapping and one hash store: it runs at every layout of
// every tagged widget, demo or not. GUI thread only.
class DemoAnchors {
public:
  // A painted row's rectangle in `host` coordinates for a full id, or none
  // when the host has no such row laid out now.
  using RectProvider = std::function<std::optional<QRect>(const QString& id)>;

  static DemoAnchors& shared();

  // Tags `widget` with `id` (a later tag with the same id wins). The widget
  // also gets the Qt property "demoAnchor" = id.
  void tag(QWidget* widget, const QString& id);
  // Answers ids that start with `prefix` from `provider`, for as long as
  // `host` lives; rectangles are in `host` coordinates.
  void provide(QWidget* host, const QString& prefix, RectProvider provider);

  // Stores a frame for `id` (global coordinates), replacing any earlier one.
  void report(const QString& id, const QRect& globalFrame);
  // Reports `widget`'s frame under `id` when it is in a shown window.
  void report(const QString& id, const QWidget* widget);

  // The frame of `id` for the recorder: a tagged widget or a provider that
  // is on screen reports afresh; a widget carrying the "demoAnchor"
  // property (buttons inside the shared view pieces) is found by search;
  // else the last stored frame; none when nothing ever reported it.
  std::optional<QRect> frame(const QString& id);
  // The table as it stands, without fresh reports.
  const QHash<QString, QRect>& frames() const { return frames_; }

  // From now on every widget carrying the Qt property "demoAnchor" (the
  // shared view pieces and the sheets name their buttons that way) reports
  // like a tagged one when it is shown, moved or resized. Once per process.
  void watchProperties();

  // Empties the table and forgets tags and providers (tests).
  void reset();

private:
  DemoAnchors() = default;
  struct Provider {
    QPointer<QWidget> host;
    QString prefix;
    RectProvider rect;
  };

  QHash<QString, QRect> frames_;
  QHash<QString, QPointer<QWidget>> widgets_;
  std::vector<Provider> providers_;
};

// Tags `widget` with `id` in the shared table; returns the widget.
template <typename W>
W* demoAnchor(W* widget, const QString& id) {
  DemoAnchors::shared().tag(widget, id);
  return widget;
}

} // namespace orrery
