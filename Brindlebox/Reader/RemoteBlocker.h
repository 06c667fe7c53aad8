#pragma once

#include "Reader/RuleList.h"

#include <QObject>

#include <functional>
#include <vector>

namespace bx {

// The process-wide owner of the two remote-content rule lists. Both are
// compiled once, the block-remote list first, off the GUI thread; callers
// that ask before both are ready are queued and answered in order once they
// are. GUI thread only.
class RemoteBlocker : public QObject {
  Q_OBJECT
public:
  using BothCallback = std::function<void(RuleListPtr list, RuleListPtr imagesOnly)>;
  using GetCallback = std::function<void(RuleListPtr list)>;

  static RemoteBlocker& shared();

  // Calls back with (block-remote, images-only): at once when both are ready
  // (or compilation has ended without one of them), else once they are.
  void both(BothCallback callback);
  // The same, with the block-remote list only; the launch warm-up.
  void get(GetCallback callback);

  RuleListPtr list() const { return list_; }
  RuleListPtr imagesOnly() const { return imagesOnly_; }
  bool isCompiling() const { return compiling_; }
  bool hasFinished() const { return finished_; }

  // A blocker of its own with other list texts, for tests of failed
  // compilation and ordering.
  RemoteBlocker(QByteArray blockRemoteSource, QByteArray imagesOnlySource, QObject* parent = nullptr);
  // Identifiers in the order compilations started.
  QStringList compileOrder() const { return compileOrder_; }

private:
  void start();
  void publish(RuleListPtr first, RuleListPtr second);

  QByteArray blockSource_;
  QByteArray imagesSource_;
  RuleListPtr list_;
  RuleListPtr imagesOnly_;
  std::vector<BothCallback> waiting_;
  bool compiling_ = false;
  bool finished_ = false;
  QStringList compileOrder_;
};

} // namespace bx
