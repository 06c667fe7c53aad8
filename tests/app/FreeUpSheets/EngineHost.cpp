#include "EngineHost.h"

#include "Store/ByteCountText.h"

#include "Engines/Cleaner.h"
#include "Imap/CancellationError.h"
#include "Sheets/FreeUpText.h"

#include <QMetaObject>

#include <set>

namespace bx::test {

EngineFreeUpHost::~EngineFreeUpHost() {
  ++tag_;
  worker_ = {};
  retired_.clear();
}

void EngineFreeUpHost::post(int tag, std::function<void()> apply) {
  QMetaObject::invokeMethod(
      this,
      [this, tag, apply = std::move(apply)] {
        if (tag != tag_) return;
        apply();
        emit cleanupChanged();
      },
      Qt::QueuedConnection);
}

void EngineFreeUpHost::retire() {
  if (worker_.joinable()) {
    worker_.request_stop();
    retired_.push_back(std::move(worker_));
  }
}

void EngineFreeUpHost::resetCleanup() {
  // A running release is left to finish and report; only its view resets
  // once it has ended.
  if (releaseRunning_) return;
  ++tag_;
  retire();
  state_ = {};
  emit cleanupChanged();
}

void EngineFreeUpHost::checkCleanup(const MailAccount& account, const std::string& mailbox, Date before) {
  if (releaseRunning_) return;
  resetCleanup();
  auto pw = passwords.find(account.id);
  if (pw == passwords.end()) {
    state_.error = FriendlyError::Message{"No saved password for " + account.label,
                                          "Remove the account and add it again."};
    emit cleanupChanged();
    return;
  }
  state_.busy = true;
  state_.stage = FreeUpStage::verify;
  emit cleanupChanged();
  const int tag = ++tag_;
  worker_ = std::jthread([this, tag, account, password = pw->second, mailbox, before,
                          layout = layout_](std::stop_token stop) {
    try {
      Cleaner cleaner(layout, account, password);
      cleaner.timeout = 10;
      const CleanupPlan plan = cleaner.survey(mailbox, before, stop);
      post(tag, [this, plan] {
        state_.plan = plan;
        state_.checked = 0;
      });
      const std::size_t n = plan.items.size();
      const std::size_t chunk = std::max<std::size_t>(1, (n + 39) / 40);
      for (std::size_t start = 0; start < n && !stop.stop_requested(); start += chunk) {
        const std::size_t end = std::min(n, start + chunk);
        std::vector<CleanupItem::Status> statuses;
        for (std::size_t i = start; i < end; ++i) statuses.push_back(Cleaner::verify(plan.items[i], layout));
        post(tag, [this, start, end, statuses] {
          if (!state_.plan) return;
          for (std::size_t i = start; i < end; ++i) state_.plan->items[i].status = statuses[i - start];
          state_.checked = std::int64_t(end);
        });
      }
      post(tag, [this] { state_.busy = false; });
    } catch (const CancellationError&) {
      post(tag, [this] { state_.busy = false; });
    } catch (const std::exception& e) {
      const auto message = FriendlyError::describe(e, account.server.host);
      post(tag, [this, message] {
        state_.error = message;
        state_.busy = false;
      });
    }
  });
}

void EngineFreeUpHost::runCleanup(const MailAccount& account) {
  if (!state_.plan || releaseRunning_) return;
  auto pw = passwords.find(account.id);
  if (pw == passwords.end()) return;
  const CleanupPlan plan = *state_.plan;
  state_.busy = true;
  state_.error.reset();
  state_.released = std::pair<std::int64_t, std::int64_t>(0, std::int64_t(plan.verified().size()));
  releaseRunning_ = true;
  emit cleanupChanged();
  retire();
  const int tag = ++tag_;
  worker_ = std::jthread([this, tag, account, password = pw->second, plan, layout = layout_](std::stop_token stop) {
    if (beforeRelease) beforeRelease();
    Cleaner cleaner(layout, account, password);
    cleaner.timeout = 10;
    std::vector<std::uint32_t> gone;
    try {
      const std::int64_t count = cleaner.execute(
          plan,
          [this, tag](std::int64_t done, std::int64_t total) {
            post(tag, [this, done, total] { state_.released = std::pair(done, total); });
          },
          stop, &gone);
      const std::optional<std::vector<std::uint32_t>> uids = gone;
      post(tag, [this, count, plan, account, uids] {
        releaseRunning_ = false;
        finish(count, plan, account, false, uids);
        state_.busy = false;
      });
    } catch (const CleanupError& e) {
      const bool stopped = e.kind() == CleanupError::Kind::stopped;
      const auto message = stopped ? FriendlyError::Message{e.problem() ? "The server reported a problem" : "Stopped",
                                                            e.errorDescription()}
                                   : FriendlyError::describe(e, account.server.host);
      const std::int64_t released = e.released(), total = e.total();
      post(tag, [this, stopped, message, released, total, plan, account, gone] {
        releaseRunning_ = false;
        if (stopped) {
          state_.released = std::pair(released, total);
          state_.error = message;
          if (released >= 1) finish(released, plan, account, true, gone);
        } else {
          state_.error = message;
        }
        state_.busy = false;
      });
    } catch (const std::exception& e) {
      const auto message = FriendlyError::describe(e, account.server.host);
      post(tag, [this, message] {
        releaseRunning_ = false;
        state_.error = message;
        state_.busy = false;
      });
    }
  });
}

void EngineFreeUpHost::finish(std::int64_t released, const CleanupPlan& plan, const MailAccount& account,
                              bool partial, const std::optional<std::vector<std::uint32_t>>& uids) {
  std::int64_t bytes = 0;
  if (uids) {
    const std::set<std::uint32_t> gone(uids->begin(), uids->end());
    for (const auto& item : plan.items)
      if (gone.count(item.uid)) bytes += item.serverSize;
  } else {
    const auto verified = plan.verified();
    for (std::size_t i = 0; i < verified.size() && std::int64_t(i) < released; ++i) bytes += verified[i].serverSize;
  }
  state_.releasedUIDs = uids;
  state_.result = (FreeUpText::grouped(released) + " message" + (released == 1 ? "" : "s") + " \u00B7 " +
                   ByteCountText::file(bytes) + " released from ")
                      .toStdString() +
                  account.label + " \u203A " + plan.displayName + ". Your verified copies stay in the vault.";
  if (partial) return;
  state_.stage = FreeUpStage::done;
  toasts << "Released " + FreeUpText::grouped(released) + " from the server \u00B7 copies safe in the vault";
}

void EngineFreeUpHost::cancelCleanup() {
  if (worker_.joinable()) worker_.request_stop();
  if (state_.stage == FreeUpStage::verify && !state_.released) {
    ++tag_;
    retire();
    state_.busy = false;
    state_.stage = FreeUpStage::choose;
    emit cleanupChanged();
  }
}

void EngineFreeUpHost::setCleanupStage(FreeUpStage stage) {
  state_.stage = stage;
  emit cleanupChanged();
}

void EngineFreeUpHost::removeAccount(const UUID& id) {
  std::erase_if(accountList, [&](const MailAccount& a) { return a.id == id; });
  passwords.erase(id);
  emit accountsChanged();
}

}  // namespace bx::test
