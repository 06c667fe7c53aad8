#pragma once

#include "Updater.h"

#include <QDateTime>
#include <QWidget>

#include <optional>

class QCheckBox;
class QLabel;

namespace orrery {

// The "Updates" tab of the settings window: the running version, the
// automatic-update switch, a one-line status and "Check Now".
class UpdateSettingsView : public QWidget {
  Q_OBJECT
public:
  // Shows the shared updater.
  explicit UpdateSettingsView(QWidget* parent = nullptr);
  UpdateSettingsView(Updater& updater, QWidget* parent = nullptr);

  // The status line for a phase; `now` is the time relative dates count from.
  static QString statusLine(const Updater::Phase& phase, const std::optional<QDateTime>& lastChecked,
                            const QDateTime& now);
  // "5 minutes ago", "yesterday", ... in the current locale.
  static QString relativeDate(const QDateTime& when, const QDateTime& now);

protected:
  void showEvent(QShowEvent* event) override;

private:
  void refresh();

  Updater& updater_;
  QCheckBox* automatic_ = nullptr;
  QLabel* status_ = nullptr;
};

} // namespace orrery
