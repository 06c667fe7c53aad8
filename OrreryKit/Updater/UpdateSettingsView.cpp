#include "UpdateSettingsView.h"

#include "Orrery/Orrery.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>

#include <cmath>

namespace orrery {
namespace {

QLabel* secondaryLabel(const QString& text, int pixelSize, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  QFont f = label->font();
  f.setPixelSize(pixelSize);
  label->setFont(f);
  QPalette pal = label->palette();
  QColor c = pal.color(QPalette::WindowText);
  c.setAlphaF(0.6);
  pal.setColor(QPalette::WindowText, c);
  label->setPalette(pal);
  return label;
}

} // namespace

UpdateSettingsView::UpdateSettingsView(QWidget* parent) : UpdateSettingsView(Orrery::updater(), parent) {}

UpdateSettingsView::UpdateSettingsView(Updater& updater, QWidget* parent) : QWidget(parent), updater_(updater) {
  setMinimumSize(420, 260);
  auto* outer = new QVBoxLayout(this);
  auto* section = new QGroupBox(QStringLiteral("Updates"), this);
  outer->addWidget(section);
  outer->addStretch(1);
  auto* rows = new QVBoxLayout(section);
  rows->setSpacing(10);

  auto* versionRow = new QHBoxLayout;
  versionRow->addWidget(new QLabel(QStringLiteral("Version"), section));
  versionRow->addStretch(1);
  auto* version = new QLabel(updater_.currentVersion(), section);
  version->setObjectName(QStringLiteral("version"));
  version->setTextFormat(Qt::PlainText);
  versionRow->addWidget(version);
  rows->addLayout(versionRow);

  automatic_ = new QCheckBox(QStringLiteral("Download and install updates automatically"), section);
  automatic_->setObjectName(QStringLiteral("automatic"));
  connect(automatic_, &QCheckBox::toggled, this, [this](bool on) {
    if (on != updater_.automaticallyDownloads()) updater_.setAutomaticallyDownloads(on);
  });
  rows->addWidget(automatic_);

  rows->addWidget(secondaryLabel(
      QStringLiteral("New versions download in the background and install when you quit ") + Orrery::appName() + u'.',
      10, section));

  auto* statusRow = new QHBoxLayout;
  status_ = secondaryLabel(QString(), 12, section);
  status_->setObjectName(QStringLiteral("status"));
  statusRow->addWidget(status_, 1);
  auto* checkNow = new QPushButton(QStringLiteral("Check Now"), section);
  checkNow->setObjectName(QStringLiteral("checkNow"));
  // A user-initiated check, started after the click returns (for the shared
  // updater this is Orrery::checkForUpdates()).
  connect(checkNow, &QPushButton::clicked, this,
          [this] { QTimer::singleShot(0, &updater_, [u = &updater_] { u->check(true); }); });
  statusRow->addWidget(checkNow);
  rows->addLayout(statusRow);

  connect(&updater_, &Updater::phaseChanged, this, &UpdateSettingsView::refresh);
  connect(&updater_, &Updater::automaticallyDownloadsChanged, this, &UpdateSettingsView::refresh);
  connect(&updater_, &Updater::lastCheckedChanged, this, &UpdateSettingsView::refresh);
  refresh();
}

void UpdateSettingsView::showEvent(QShowEvent* event) {
  // The relative date counts from the moment the pane is shown.
  refresh();
  QWidget::showEvent(event);
}

void UpdateSettingsView::refresh() {
  const QSignalBlocker block(automatic_);
  automatic_->setChecked(updater_.automaticallyDownloads());
  status_->setText(statusLine(updater_.phase(), updater_.lastChecked(), QDateTime::currentDateTime()));
}

QString UpdateSettingsView::statusLine(const Updater::Phase& phase, const std::optional<QDateTime>& lastChecked,
                                       const QDateTime& now) {
  using Kind = Updater::Phase::Kind;
  const QString v = phase.feed ? phase.feed->version : QString();
  switch (phase.kind) {
  case Kind::Idle:
    if (!lastChecked) return {};
    return QStringLiteral("Last checked ") + relativeDate(*lastChecked, now) + u'.';
  case Kind::Checking:
    return QStringLiteral("Checking\u2026");
  case Kind::UpToDate:
    return QStringLiteral("You\u2019re up to date.");
  case Kind::Available:
    return QStringLiteral("Version ") + v + QStringLiteral(" is available.");
  case Kind::Downloading: {
    const double percent = std::trunc(std::clamp(phase.progress, 0.0, 1.0) * 100.0);
    return QStringLiteral("Downloading ") + v + QStringLiteral("\u2026 ") + QString::number(qint64(percent)) + u'%';
  }
  case Kind::Ready:
    return QStringLiteral("Version ") + v + QStringLiteral(" installs when you quit.");
  case Kind::Failed:
    return phase.message;
  }
  return {};
}

QString UpdateSettingsView::relativeDate(const QDateTime& when, const QDateTime& now) {
  // The largest unit that is at least one whole step away, as a named form
  // where the language has one ("yesterday", "now").
  const qint64 seconds = now.secsTo(when);
  const qint64 a = std::llabs(seconds);
  const int sign = seconds < 0 ? -1 : 1;
  double offset = 0;
  URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
  if (a < 60) {
    offset = double(seconds);
  } else if (a < 3600) {
    offset = sign * double(a / 60);
    unit = UDAT_REL_UNIT_MINUTE;
  } else if (a < 86400) {
    offset = sign * double(a / 3600);
    unit = UDAT_REL_UNIT_HOUR;
  } else if (a < 7 * 86400) {
    offset = sign * double(a / 86400);
    unit = UDAT_REL_UNIT_DAY;
  } else if (a < 30 * 86400) {
    offset = sign * double(a / (7 * 86400));
    unit = UDAT_REL_UNIT_WEEK;
  } else if (a < 365 * 86400) {
    offset = sign * double(a / (30 * 86400));
    unit = UDAT_REL_UNIT_MONTH;
  } else {
    offset = sign * double(a / (365 * 86400));
    unit = UDAT_REL_UNIT_YEAR;
  }
  UErrorCode status = U_ZERO_ERROR;
  icu::RelativeDateTimeFormatter formatter(icu::Locale::getDefault(), nullptr, UDAT_STYLE_LONG,
                                           UDISPCTX_CAPITALIZATION_NONE, status);
  icu::UnicodeString out;
  if (U_SUCCESS(status)) formatter.format(offset, unit, out, status);
  if (U_FAILURE(status)) return when.toString(Qt::ISODate);
  return QString(reinterpret_cast<const QChar*>(out.getBuffer()), out.length());
}

} // namespace orrery
