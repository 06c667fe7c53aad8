#pragma once
// The free-up flow as the free-up sheet sees it, stage by stage: the
// read-only survey of one folder, the paced walk that verifies every local
// copy where the user can watch it, the release of the verified messages
// after the typed confirmation, and the closing summary. The store's
// free-up operations are this model's operations.
//
// Everything here runs on the GUI thread except the engine's survey and
// release and each verify chunk, which run on worker threads and come back
// as queued calls.
//
// Every piece of work belongs to one job (the store's cleanup task) and
// every plan has a generation. A result is applied only when its job is
// still the model's job and, for verify results, only to the plan they were
// computed for: a cancelled or replaced check can never write its statuses
// into a newer plan.

#include "Engines/Cleaner.h"
#include "Engines/CleanupPlan.h"
#include "Engines/FriendlyError.h"
#include "Store/WorkerThreads.h"
#include "Theme/Motion.h"
#include "Theme/ThemeColor.h"

#include <QLocale>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace bx {

enum class CleanupStage { choose = 0, verify = 1, release = 2, done = 3 };

struct ReleaseProgress {
  int done = 0;
  int total = 0;
  friend bool operator==(const ReleaseProgress&, const ReleaseProgress&) = default;
};

// How the verify walk is paced for n items: chunks of `chunkSize`
// consecutive items, each followed by a pause of `pauseSeconds`.
struct VerifyPacing {
  int chunkSize = 1;
  double pauseSeconds = 0;
  int chunks = 0;

  static VerifyPacing forItems(int n);
  friend bool operator==(const VerifyPacing&, const VerifyPacing&) = default;
};

// What a finished release reports. Converts from a bare count so a release
// that says nothing about leftovers reports none.
struct ReleaseOutcome {
  std::int64_t released = 0;
  // Messages an interrupted earlier release had left flagged \Deleted whose
  // flag this release took off.
  std::int64_t leftoversUnflagged = 0;

  ReleaseOutcome(std::int64_t released = 0, std::int64_t leftoversUnflagged = 0)
      : released(released), leftoversUnflagged(leftoversUnflagged) {}
};

class CleanupModel : public QObject {
  Q_OBJECT
public:
  // What the model needs of the store and the engine. Any engine function
  // left empty uses the real Cleaner.
  struct Services {
    std::function<ArchiveLayout()> layout;
    std::function<std::optional<std::string>(const MailAccount&)> password;
    std::function<void(const QString& text, const QString& symbol, const ThemeColor& tint)> toast;
    std::function<CleanupPlan(const ArchiveLayout&, const MailAccount&, const std::string& password,
                              const std::string& mailbox, Date before, std::stop_token)>
        survey;
    // Fills `releasedUIDs` with the UIDs known to have left the server, also
    // when it throws.
    std::function<ReleaseOutcome(const ArchiveLayout&, const MailAccount&, const std::string& password,
                                 const CleanupPlan&, const Cleaner::Progress&, std::stop_token,
                                 std::vector<std::uint32_t>* releasedUIDs)>
        execute;
    // Called on worker threads. The walk checks a chunk at a time through
    // verifyAll; left empty, it checks each item of the chunk with `verify`
    // when that is given, else the whole chunk with the Cleaner's batch.
    std::function<CleanupItem::Status(const CleanupItem&, const ArchiveLayout&)> verify;
    std::function<std::vector<CleanupItem::Status>(const std::vector<CleanupItem>&, const ArchiveLayout&)>
        verifyAll;
    // Waits, then calls back on the GUI thread. Default: a precise timer.
    std::function<void(double seconds, QObject* context, std::function<void()> then)> pause;
    // Whether stage changes fade instead of moving (Reduce Motion).
    std::function<bool()> reduceMotion;
  };

  explicit CleanupModel(QObject* parent = nullptr);
  CleanupModel(Services services, QObject* parent = nullptr);
  ~CleanupModel() override;

  // Replaces the services (the store sets its own before the first use).
  void setServices(Services services);
  bool hasServices() const { return bool(services_.password); }

  static std::optional<CleanupStage> stageFromRaw(int raw) {
    if (raw < 0 || raw > 3) return std::nullopt;
    return static_cast<CleanupStage>(raw);
  }

  // ---- published fields
  CleanupStage stage() const { return stage_; }
  // The sheet moves from verify to release when the user continues; the
  // model itself never does.
  void setStage(CleanupStage s);
  const std::optional<CleanupPlan>& plan() const { return plan_; }
  std::optional<CleanupPlan>& mutablePlan() { return plan_; }
  // A new plan (or none): walks over an older plan stop writing.
  void setPlan(std::optional<CleanupPlan> p);
  int checked() const { return checked_; }
  void setChecked(int c);
  bool busy() const { return busy_; }
  // The account a running survey or release talks to.
  const std::optional<UUID>& busyAccount() const { return busyAccount_; }
  void setBusy(bool b);
  const std::optional<FriendlyError::Message>& error() const { return error_; }
  void setError(std::optional<FriendlyError::Message> e);
  std::optional<ReleaseProgress> released() const { return released_; }
  void setReleased(std::optional<ReleaseProgress> r);
  const std::optional<QString>& result() const { return result_; }
  void setResult(std::optional<QString> r);
  // The UIDs the last release took off the server, when the engine could
  // tell; what stayed is every planned message not among them.
  const std::optional<std::vector<std::uint32_t>>& releasedUIDs() const { return releasedUIDs_; }
  void setReleasedUIDs(std::optional<std::vector<std::uint32_t>> uids);
  // Leftover \Deleted flags the last finished release took off; 0 until one
  // finishes.
  std::int64_t leftoversUnflagged() const { return leftoversUnflagged_; }
  void setLeftoversUnflagged(std::int64_t n);

  // The animation of the last stage change (nothing for a reset) and of
  // the last verify step, for the sheet to play.
  const std::optional<Animation>& stageAnimation() const { return stageAnimation_; }
  const Animation& checkedAnimation() const { return checkedAnimation_; }

  // ---- operations
  // Cancels and forgets the job, then clears every field.
  void reset();
  // Survey of one folder for messages older than `before`, then the
  // verify walk.
  void check(const MailAccount& account, const std::string& mailbox, Date before);
  // The paced walk over `plan` (the model's current plan); `done` runs
  // when it ends, also when it stops early. Used by check and by the demo.
  void verifyProgressively(const CleanupPlan& plan, const ArchiveLayout& layout, std::function<void()> done = {});
  // Releases the plan's verified messages. Refused while anything runs.
  void run(const MailAccount& account);
  // Writes the summary; unless partial, moves to done and shows the toast.
  // The bytes are those of the released messages: by their UIDs when the
  // engine told them, else the first `released` verified items.
  void finish(int released, const CleanupPlan& plan, const MailAccount& account, bool partial);
  // Cancels the job; during the verify stage (no release started) it goes
  // back to choose.
  void cancel();

  // Waits for the worker threads (tests and shutdown).
  void joinWorkers() { workers_.join(); }

  // "12 messages · 3.4 MB released from Work › INBOX. Your verified copies stay in the vault."
  static QString summaryLine(std::int64_t count, std::int64_t bytes, const QString& label,
                             const QString& displayName, const QLocale& locale = QLocale());
  static QString toastLine(std::int64_t count, const QLocale& locale = QLocale());

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
  // The statuses of items [start, end) of the plan were just written.
  void itemsVerified(int start, int end);

private:
  struct Job {
    std::stop_source stop;
    bool cancelled = false;
  };
  struct Walk;

  void animateStage(CleanupStage stage);
  Animation stageMotion() const;
  void walkStep(std::shared_ptr<Walk> walk);
  void cancelJob();
  static FriendlyError::Message noPassword(const MailAccount& account);

  Services services_;
  CleanupStage stage_ = CleanupStage::choose;
  std::optional<CleanupPlan> plan_;
  int checked_ = 0;
  bool busy_ = false;
  std::optional<UUID> busyAccount_;
  std::optional<FriendlyError::Message> error_;
  std::optional<ReleaseProgress> released_;
  std::optional<QString> result_;
  std::optional<std::vector<std::uint32_t>> releasedUIDs_;
  std::int64_t leftoversUnflagged_ = 0;
  std::optional<Animation> stageAnimation_;
  Animation checkedAnimation_ = Motion::snappy;

  std::shared_ptr<Job> job_;
  std::uint64_t planGeneration_ = 0;
  WorkerThreads workers_;
};

}  // namespace bx
