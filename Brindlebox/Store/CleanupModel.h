#pragma once
// State of the free-up flow that the free-up sheet shows stage by stage.

#include "Engines/CleanupPlan.h"
#include "Engines/FriendlyError.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace bx {

enum class CleanupStage { choose = 0, verify = 1, release = 2, done = 3 };

struct ReleaseProgress {
  int done = 0;
  int total = 0;
  friend bool operator==(const ReleaseProgress&, const ReleaseProgress&) = default;
};

class CleanupModel : public QObject {
  Q_OBJECT
public:
  explicit CleanupModel(QObject* parent = nullptr) : QObject(parent) {}

  static std::optional<CleanupStage> stageFromRaw(int raw) {
    if (raw < 0 || raw > 3) return std::nullopt;
    return static_cast<CleanupStage>(raw);
  }

  CleanupStage stage() const { return stage_; }
  void setStage(CleanupStage s) { stage_ = s; emit stageChanged(); emit changed(); }
  const std::optional<CleanupPlan>& plan() const { return plan_; }
  std::optional<CleanupPlan>& mutablePlan() { return plan_; }
  void setPlan(std::optional<CleanupPlan> p) { plan_ = std::move(p); emit planChanged(); emit changed(); }
  int checked() const { return checked_; }
  void setChecked(int c) { checked_ = c; emit checkedChanged(); emit changed(); }
  bool busy() const { return busy_; }
  void setBusy(bool b) { busy_ = b; emit busyChanged(); emit changed(); }
  const std::optional<FriendlyError::Message>& error() const { return error_; }
  void setError(std::optional<FriendlyError::Message> e) { error_ = std::move(e); emit errorChanged(); emit changed(); }
  std::optional<ReleaseProgress> released() const { return released_; }
  void setReleased(std::optional<ReleaseProgress> r) { released_ = r; emit releasedChanged(); emit changed(); }
  const std::optional<QString>& result() const { return result_; }
  void setResult(std::optional<QString> r) { result_ = std::move(r); emit resultChanged(); emit changed(); }
  // The UIDs the last release took off the server, when the engine could
  // tell; what stayed is every planned message not among them.
  const std::optional<std::vector<std::uint32_t>>& releasedUIDs() const { return releasedUIDs_; }
  void setReleasedUIDs(std::optional<std::vector<std::uint32_t>> uids) {
    releasedUIDs_ = std::move(uids);
    emit changed();
  }

signals:
  void stageChanged();
  void planChanged();
  void checkedChanged();
  void busyChanged();
  void errorChanged();
  void releasedChanged();
  void resultChanged();
  // After any of the above.
  void changed();

private:
  CleanupStage stage_ = CleanupStage::choose;
  std::optional<CleanupPlan> plan_;
  int checked_ = 0;
  bool busy_ = false;
  std::optional<FriendlyError::Message> error_;
  std::optional<ReleaseProgress> released_;
  std::optional<QString> result_;
  std::optional<std::vector<std::uint32_t>> releasedUIDs_;
};

}  // namespace bx
