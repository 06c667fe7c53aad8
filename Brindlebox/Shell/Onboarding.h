#pragma once

#include "Theme/AnimatedValue.h"
#include "Views/ThemedWidget.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <optional>

class QHBoxLayout;

namespace bx {

class VaultButton;

namespace Onboarding {
// The user default that records that the guide has been left once.
inline constexpr const char* kSeenKey = "bx.didShowWelcome";
// Whether to open the guide by itself after the window first shows: never
// under the screenshot, demo or UI self-test switches (presence counts),
// else until it has been left once.
bool shouldShow();
} // namespace Onboarding

// What the guide does to the rest of the application, so it stays a view:
// `context` outlives the guide (the store) and carries the deferred steps.
struct OnboardingActions {
  QPointer<QObject> context;
  std::function<int()> accountCount;
  std::function<void()> presentImportPanel;
  std::function<void()> showAddAccount;
};

class OnboardingPageArea;
class PageDots;

// The four-page guide as a window-modal sheet of a fixed 580 × 470: pages
// slide sideways in a clipped area (cross-fade under Reduce Motion), a
// footer with page dots and the buttons. Return runs the default button,
// Escape and the title-bar close run Skip. Every way out writes and syncs
// the user default before the sheet closes, except a close caused by the
// application quitting.
class OnboardingView : public QDialog {
  Q_OBJECT
public:
  struct Page {
    QString symbol;
    QString title;
    QString text;
  };
  static const QList<Page>& pages();

  // The page the screenshot harness asks for, else none (page 0).
  static std::optional<int> snapshotPage;

  // `startPage` outside 0…3 is clamped into range.
  OnboardingView(int startPage, OnboardingActions actions, QWidget* parent = nullptr);

  int page() const { return page_; }
  bool forward() const { return forward_; }
  // Titles of the footer's buttons, in order.
  QStringList footerButtons() const;
  VaultButton* footerButton(const QString& title) const;
  OnboardingPageArea* pageArea() const { return area_; }
  PageDots* dots() const { return dots_; }

  // The default action (Return): Continue, or Finish on the last page.
  void runDefault();
  void go(int target);
  void skip();
  void importFiles();
  void finish();

  // The finishing button's title for the store's accounts now.
  QString finishTitle() const;
  // Rebuilds the footer (after a change of the accounts).
  void refreshFooter();

  void reject() override;

private:
  void leave();
  void buildFooter();

  OnboardingActions actions_;
  int page_ = 0;
  bool forward_ = true;
  OnboardingPageArea* area_ = nullptr;
  PageDots* dots_ = nullptr;
  QWidget* footer_ = nullptr;
  QHBoxLayout* footerButtons_ = nullptr;
  bool left_ = false;
};

// Builds the view of one page (header, title and text, detail block).
QWidget* makeOnboardingPage(int index, QWidget* parent = nullptr);

// The clipped area in which pages slide: the new page comes in from the
// trailing edge going forward (from the leading edge going back) while the
// old one leaves the other way, both fading; under Reduce Motion (read at
// the change) they only cross-fade.
class OnboardingPageArea : public QWidget {
  Q_OBJECT
public:
  explicit OnboardingPageArea(QWidget* parent = nullptr);

  void show(QWidget* page, bool forward, bool animated);
  QWidget* current() const { return current_; }
  QWidget* leaving() const { return leaving_; }
  bool slides() const { return slides_; }
  qreal progress() const { return progress_.value(); }

protected:
  void resizeEvent(QResizeEvent*) override;

private:
  void place();

  QPointer<QWidget> current_;
  QPointer<QWidget> leaving_;
  AnimatedValue progress_{1};
  bool forward_ = true;
  bool slides_ = true;
};

// One capsule per page: the current one wide in the focus colour, the
// others small dots.
class PageDots : public ThemedWidget {
  Q_OBJECT
public:
  PageDots(int count, int current, QWidget* parent = nullptr);
  void setCurrent(int current);
  int current() const { return current_; }
  // The width of dot `i` as drawn now.
  qreal dotWidth(int i) const;

  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  int count_;
  int current_;
  AnimatedValue position_;
};

} // namespace bx
