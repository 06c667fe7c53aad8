#include "UpdateView.h"

#include "Updater.h"

#include "Orrery/AppIconView.h"
#include "Orrery/Orrery.h"
#include "Orrery/WindowHost.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace orrery {
namespace {

QColor secondary(const QWidget* w) {
  QColor c = w->palette().color(QPalette::WindowText);
  c.setAlphaF(0.6);
  return c;
}

void clear(QLayout* layout) {
  while (QLayoutItem* item = layout->takeAt(0)) {
    if (QWidget* w = item->widget()) {
      // A button may be clearing its own row from its click: let it finish.
      w->hide();
      w->setParent(nullptr);
      w->deleteLater();
    }
    delete item;
  }
}

} // namespace

UpdateView::UpdateView(Updater& updater, QWidget* parent) : QWidget(parent), updater_(updater) {
  setAutoFillBackground(true);
  auto* stack = new QVBoxLayout(this);
  stack->setSpacing(14);
  stack->setContentsMargins(26, 30, 26, 20);
  stack->addWidget(new AppIconView(64, this), 0, Qt::AlignHCenter);

  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("title"));
  title_->setTextFormat(Qt::PlainText);
  title_->setAlignment(Qt::AlignCenter);
  title_->setWordWrap(true);
  QFont f = title_->font();
  f.setPixelSize(18);
  f.setBold(true);
  title_->setFont(f);
  stack->addWidget(title_);

  detail_ = new QWidget(this);
  detail_->setObjectName(QStringLiteral("detail"));
  detailLayout_ = new QVBoxLayout(detail_);
  detailLayout_->setContentsMargins(0, 0, 0, 0);
  detailLayout_->setSpacing(8);
  stack->addWidget(detail_);

  stack->addSpacing(4);
  buttons_ = new QWidget(this);
  buttons_->setObjectName(QStringLiteral("buttons"));
  buttonLayout_ = new QHBoxLayout(buttons_);
  buttonLayout_->setContentsMargins(0, 0, 0, 0);
  stack->addWidget(buttons_, 0, Qt::AlignHCenter);

  // A kit window is no dialog, so Qt gives its default button no key of its
  // own: Return and Enter press it here.
  for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* shortcut = new QShortcut(QKeySequence(key), this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this] {
      if (defaultButton_ && defaultButton_->isVisible()) defaultButton_->click();
    });
  }

  connect(&updater_, &Updater::phaseChanged, this, &UpdateView::refresh);
  refresh();
}

QLabel* UpdateView::addText(const QString& text, int pixelSize, const QColor& color, const char* name) {
  auto* label = new QLabel(text, detail_);
  label->setObjectName(QLatin1String(name));
  // Notes and messages come from outside: never read as markup.
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  QFont f = label->font();
  f.setPixelSize(pixelSize);
  label->setFont(f);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, color);
  label->setPalette(pal);
  detailLayout_->addWidget(label);
  return label;
}

void UpdateView::addButton(const QString& text, bool isDefault, const std::function<void()>& action) {
  auto* button = new QPushButton(text, buttons_);
  button->setDefault(isDefault);
  button->setAutoDefault(isDefault);
  if (isDefault) defaultButton_ = button;
  connect(button, &QPushButton::clicked, this, action);
  buttonLayout_->addWidget(button);
}

void UpdateView::refresh() {
  using Kind = Updater::Phase::Kind;
  const Updater::Phase& phase = updater_.phase();
  const QString n = Orrery::appName();
  const QString c = updater_.currentVersion();
  const QString v = phase.feed ? phase.feed->version : QString();
  clear(detailLayout_);
  clear(buttonLayout_);
  defaultButton_ = nullptr;

  auto closeWindow = [] { WindowHost::close(QLatin1String(windowId)); };
  auto notes = [&] {
    return phase.feed && phase.feed->notes ? *phase.feed->notes : QStringLiteral("You have ") + c + u'.';
  };

  switch (phase.kind) {
  case Kind::Idle:
  case Kind::Checking: {
    title_->setText(QStringLiteral("Checking for updates\u2026"));
    auto* spinner = new QProgressBar(detail_);
    spinner->setObjectName(QStringLiteral("spinner"));
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(60, 8);
    detailLayout_->addWidget(spinner, 0, Qt::AlignHCenter);
    break;
  }
  case Kind::UpToDate:
    title_->setText(QStringLiteral("You\u2019re up to date"));
    addText(n + u' ' + c + QStringLiteral(" is the newest version."), 13, secondary(this), "message");
    break;
  case Kind::Available:
    title_->setText(n + u' ' + v + QStringLiteral(" is available"));
    addText(notes(), 12, secondary(this), "notes");
    if (!updater_.canInstallInPlace())
      addText(Orrery::localize(QStringLiteral("Move ") + n +
                               QStringLiteral(" to your Applications folder to get updates automatically.")),
              10, QColor(255, 149, 0), "hint");
    break;
  case Kind::Downloading: {
    title_->setText(QStringLiteral("Downloading ") + n + u' ' + v + u'\u2026');
    auto* bar = new QProgressBar(detail_);
    bar->setObjectName(QStringLiteral("progress"));
    bar->setRange(0, 1000);
    bar->setValue(int(std::clamp(phase.progress, 0.0, 1.0) * 1000));
    bar->setTextVisible(false);
    bar->setFixedWidth(260);
    detailLayout_->addWidget(bar, 0, Qt::AlignHCenter);
    break;
  }
  case Kind::Ready:
    title_->setText(n + u' ' + v + QStringLiteral(" is ready"));
    addText(notes(), 12, secondary(this), "notes");
    if (updater_.installWasInterrupted())
      addText(QStringLiteral("It wasn\u2019t installed when you last quit ") + n + QStringLiteral(", because ") + n +
                  QStringLiteral(" was still running a minute later."),
              12, secondary(this), "interrupted");
    addText(QStringLiteral("It installs automatically the next time you quit ") + n + u'.', 12, secondary(this),
            "readyNote");
    break;
  case Kind::Failed:
    title_->setText(QStringLiteral("Update problem"));
    addText(phase.message, 13, secondary(this), "message");
    break;
  }

  switch (phase.kind) {
  case Kind::Available: {
    addButton(QStringLiteral("Later"), false, closeWindow);
    const UpdateFeed feed = *phase.feed;
    if (feed.download && updater_.canInstallInPlace() && updater_.publicKey()) {
      // "&&": a single "&" would mark the next letter as a shortcut.
      addButton(QStringLiteral("Download && Install"), true, [this, feed] { updater_.download(feed); });
    } else {
      addButton(QStringLiteral("Open Download Page"), true, [feed, closeWindow] {
        // Only a web page: a file: or custom-scheme address could start a program.
        if (const auto url = httpsURL(feed.url)) QDesktopServices::openUrl(*url);
        closeWindow();
      });
    }
    break;
  }
  case Kind::Downloading:
    break;
  case Kind::Ready:
    addButton(QStringLiteral("Later"), false, closeWindow);
    addButton(QStringLiteral("Restart Now"), true, [this] { updater_.installAndRelaunch(); });
    break;
  default:
    addButton(QStringLiteral("OK"), true, closeWindow);
    break;
  }
  buttons_->setVisible(buttonLayout_->count() > 0);
}

} // namespace orrery
