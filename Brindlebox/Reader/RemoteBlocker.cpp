#include "Reader/RemoteBlocker.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace bx {

RemoteBlocker& RemoteBlocker::shared() {
  static RemoteBlocker* instance = new RemoteBlocker(RuleLists::blockRemoteSource(), RuleLists::imagesOnlySource());
  return *instance;
}

RemoteBlocker::RemoteBlocker(QByteArray blockRemoteSource, QByteArray imagesOnlySource, QObject* parent)
    : QObject(parent), blockSource_(std::move(blockRemoteSource)), imagesSource_(std::move(imagesOnlySource)) {}

void RemoteBlocker::both(BothCallback callback) {
  // After compilation has ended the lists are final, present or not: a
  // failed list is answered as absent at once rather than left waiting, and
  // the web view falls back to plain text.
  if ((list_ && imagesOnly_) || finished_) {
    callback(list_, imagesOnly_);
    return;
  }
  waiting_.push_back(std::move(callback));
  if (compiling_) return;
  start();
}

void RemoteBlocker::get(GetCallback callback) {
  both([callback = std::move(callback)](RuleListPtr list, RuleListPtr) { callback(list); });
}

void RemoteBlocker::start() {
  compiling_ = true;
  compileOrder_ << RuleLists::blockRemoteIdentifier << RuleLists::imagesOnlyIdentifier;
  QPointer<RemoteBlocker> self(this);
  const QByteArray first = blockSource_, second = imagesSource_;
  QThreadPool::globalInstance()->start([self, first, second] {
    // The second list is compiled after the first has ended, failed or not.
    auto a = RuleList::compile(RuleLists::blockRemoteIdentifier, first);
    auto b = RuleList::compile(RuleLists::imagesOnlyIdentifier, second);
    RuleListPtr pa = a ? std::make_shared<const RuleList>(std::move(*a)) : nullptr;
    RuleListPtr pb = b ? std::make_shared<const RuleList>(std::move(*b)) : nullptr;
    if (!self) return;
    QMetaObject::invokeMethod(self.data(), [self, pa, pb] {
      if (self) self->publish(pa, pb);
    }, Qt::QueuedConnection);
  });
}

void RemoteBlocker::publish(RuleListPtr first, RuleListPtr second) {
  list_ = std::move(first);
  imagesOnly_ = std::move(second);
  finished_ = true;
  std::vector<BothCallback> taken;
  taken.swap(waiting_);
  for (auto& callback : taken) callback(list_, imagesOnly_);
}

} // namespace bx
