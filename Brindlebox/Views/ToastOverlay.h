#pragma once

#include "Views/Toast.h"
#include "Views/ToastView.h"

#include <QObject>
#include <QPointer>
#include <optional>

class QWidget;

namespace bx {

// Shows the current toast over a window's content, centred at its bottom:
// 22 px above the bottom edge (96 px when BRINDLEBOX_DEMO_DIR is present in
// the environment), at least 16 px from the sides. A new toast (another id)
// replaces the shown one with its own transition and bounce: it moves in
// from below the bottom edge while fading in (only fades under Reduce
// Motion, read each time) and leaves the same way. A click on the banner
// clears it at once and reports `dismissed`, so the owner of the toast
// state can clear it too.
class ToastOverlay : public QObject {
  Q_OBJECT
public:
  explicit ToastOverlay(QWidget* host);
  // Takes its banners with it, the shown one and any still leaving.
  ~ToastOverlay() override;

  std::optional<Toast> toast() const { return toast_; }
  void setToast(std::optional<Toast> toast);

  // The view of the toast now shown (not the ones leaving), or null.
  ToastView* currentView() const { return current_; }
  // Where the shown banner sits when settled, in host coordinates.
  QRect bannerGeometry() const;

  static int bottomPadding();
  static constexpr int kSidePadding = 16;

signals:
  void dismissed(QUuid id);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  int maxBannerWidth() const;
  // Where `view`'s banner sits when settled, in host coordinates.
  QRect settledBanner(const ToastView* view) const;
  void place(ToastView* view, qreal progress, bool moving) const;
  void leave(ToastView* view, bool reduce);

  QWidget* host_;
  std::optional<Toast> toast_;
  QPointer<ToastView> current_;
  QList<QPointer<ToastView>> views_;
};

} // namespace bx
