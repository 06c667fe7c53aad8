#pragma once
// A free-up host that drives the real engine against a real server, for the
// end-to-end cases: survey and verify walk, then the release, each on a
// worker thread whose reports come back queued and tagged with their run, so
// a report of a run that was cancelled or reset is dropped.
//
// A release is never forgotten: resetting while one runs leaves it to end
// and publish its outcome, and a second release waits for the first.
#include "NullSheetStore.h"
#include "Vault/ArchiveLayout.h"

#include <QStringList>

#include <functional>
#include <map>
#include <thread>

namespace bx::test {

class EngineFreeUpHost : public NullSheetStore {
  Q_OBJECT
public:
  explicit EngineFreeUpHost(ArchiveLayout layout) : layout_(std::move(layout)) {}
  ~EngineFreeUpHost() override;

  std::vector<MailAccount> accountList;
  std::map<UUID, std::string> passwords;
  QStringList toasts;
  // Called on the worker thread just before the release starts (tests use
  // it to hold or spoil things at that moment).
  std::function<void()> beforeRelease;

  std::vector<MailAccount> accounts() const override { return accountList; }
  FreeUpState cleanupState() const override { return state_; }
  void checkCleanup(const MailAccount& account, const std::string& mailbox, Date before) override;
  void runCleanup(const MailAccount& account) override;
  void cancelCleanup() override;
  void resetCleanup() override;
  void setCleanupStage(FreeUpStage stage) override;

  void removeAccount(const UUID& id);
  bool releaseRunning() const { return releaseRunning_; }

private:
  void post(int tag, std::function<void()> apply);
  void retire();
  void finish(std::int64_t released, const CleanupPlan& plan, const MailAccount& account, bool partial,
              const std::optional<std::vector<std::uint32_t>>& uids);

  ArchiveLayout layout_;
  FreeUpState state_;
  int tag_ = 0;
  bool releaseRunning_ = false;
  std::jthread worker_;
  std::vector<std::jthread> retired_;
};

}  // namespace bx::test
