#include "Store/CleanupModel.h"

#include "Imap/CancellationError.h"
#include "Platform/ReduceMotion.h"
#include "Store/ByteCountText.h"
#include "Theme/Theme.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <set>

namespace bx {

VerifyPacing VerifyPacing::forItems(int n) {
    VerifyPacing p;
    if (n <= 0) return p;
    const int m = std::min(n, 40);
    p.chunkSize = std::max(1, int(std::ceil(double(n) / double(m))));
    p.pauseSeconds = std::clamp(1.8 / double(m), 0.025, 0.12);
    p.chunks = (n + p.chunkSize - 1) / p.chunkSize;
    return p;
}

struct CleanupModel::Walk {
    std::vector<CleanupItem> items;
    ArchiveLayout layout;
    VerifyPacing pacing;
    int next = 0;
    std::shared_ptr<Job> job;  // null when the walk runs outside a check
    std::uint64_t planGeneration = 0;
    std::function<void()> done;
};

CleanupModel::CleanupModel(QObject* parent) : CleanupModel(Services{}, parent) {}

CleanupModel::CleanupModel(Services services, QObject* parent) : QObject(parent) { setServices(std::move(services)); }

void CleanupModel::setServices(Services services) {
    services_ = std::move(services);
    if (!services_.survey)
        services_.survey = [](const ArchiveLayout& layout, const MailAccount& account, const std::string& password,
                              const std::string& mailbox, Date before, std::stop_token stop) {
            Cleaner cleaner(layout, account, password);
            return cleaner.survey(mailbox, before, stop);
        };
    if (!services_.execute)
        services_.execute = [](const ArchiveLayout& layout, const MailAccount& account, const std::string& password,
                               const CleanupPlan& plan, const Cleaner::Progress& progress, std::stop_token stop,
                               std::vector<std::uint32_t>* releasedUIDs) {
            Cleaner cleaner(layout, account, password);
            const std::int64_t released = cleaner.execute(plan, progress, stop, releasedUIDs);
            return ReleaseOutcome(released, cleaner.leftoversUnflagged);
        };
    if (!services_.verifyAll) {
        if (services_.verify)
            services_.verifyAll = [verify = services_.verify](const std::vector<CleanupItem>& items,
                                                              const ArchiveLayout& layout) {
                std::vector<CleanupItem::Status> statuses;
                statuses.reserve(items.size());
                for (const auto& item : items) statuses.push_back(verify(item, layout));
                return statuses;
            };
        else
            services_.verifyAll = [](const std::vector<CleanupItem>& items, const ArchiveLayout& layout) {
                return Cleaner::verify(items, layout);
            };
    }
    if (!services_.pause)
        services_.pause = [](double seconds, QObject* context, std::function<void()> then) {
            QTimer::singleShot(int(std::lround(seconds * 1000.0)), Qt::PreciseTimer, context, std::move(then));
        };
    if (!services_.reduceMotion) services_.reduceMotion = [] { return ReduceMotion::isOn(); };
}

CleanupModel::~CleanupModel() { workers_.stopAndJoin(); }

// ---- published fields

void CleanupModel::setStage(CleanupStage stage) {
    stage_ = stage;
    emit stageChanged();
    emit changed();
}

void CleanupModel::animateStage(CleanupStage stage) {
    stageAnimation_ = stageMotion();
    setStage(stage);
}

Animation CleanupModel::stageMotion() const {
    return services_.reduceMotion && services_.reduceMotion() ? Motion::fade : Motion::spring;
}

void CleanupModel::setBusy(bool busy) {
    busy_ = busy;
    if (!busy) busyAccount_.reset();
    emit busyChanged();
    emit changed();
}

void CleanupModel::setError(std::optional<FriendlyError::Message> error) {
    error_ = std::move(error);
    emit errorChanged();
    emit changed();
}

void CleanupModel::setReleased(std::optional<ReleaseProgress> released) {
    released_ = released;
    emit releasedChanged();
    emit changed();
}

void CleanupModel::setResult(std::optional<QString> result) {
    result_ = std::move(result);
    emit resultChanged();
    emit changed();
}

void CleanupModel::setChecked(int checked) {
    checked_ = checked;
    emit checkedChanged();
    emit changed();
}

void CleanupModel::setReleasedUIDs(std::optional<std::vector<std::uint32_t>> uids) {
    releasedUIDs_ = std::move(uids);
    emit changed();
}

void CleanupModel::setLeftoversUnflagged(std::int64_t n) {
    leftoversUnflagged_ = n;
    emit changed();
}

void CleanupModel::setPlan(std::optional<CleanupPlan> plan) {
    plan_ = std::move(plan);
    ++planGeneration_;
    emit planChanged();
    emit changed();
}

FriendlyError::Message CleanupModel::noPassword(const MailAccount& account) {
    return FriendlyError::Message{"No saved password for " + account.label, "Remove the account and add it again."};
}

void CleanupModel::cancelJob() {
    if (!job_) return;
    job_->cancelled = true;
    job_->stop.request_stop();
}

// ---- operations

void CleanupModel::reset() {
    cancelJob();
    job_.reset();
    stageAnimation_.reset();
    setStage(CleanupStage::choose);
    setPlan(std::nullopt);
    setError(std::nullopt);
    setResult(std::nullopt);
    setBusy(false);
    setChecked(0);
    setReleased(std::nullopt);
    setReleasedUIDs(std::nullopt);
    setLeftoversUnflagged(0);
}

void CleanupModel::check(const MailAccount& account, const std::string& mailbox, Date before) {
    reset();
    if (!services_.password || !services_.layout) return;
    const std::optional<std::string> password = services_.password(account);
    if (!password) {
        setError(noPassword(account));
        return;
    }
    busyAccount_ = account.id;
    setBusy(true);
    animateStage(CleanupStage::verify);

    auto job = std::make_shared<Job>();
    job_ = job;
    const ArchiveLayout layout = services_.layout();
    auto survey = services_.survey;
    const std::stop_token token = job->stop.get_token();
    workers_.start([this, job, survey, layout, account, pw = *password, mailbox, before, token](std::stop_token) {
        std::optional<CleanupPlan> plan;
        std::exception_ptr error;
        try {
            plan = survey(layout, account, pw, mailbox, before, token);
        } catch (...) {
            error = std::current_exception();
        }
        postTo(this, [this, job, plan = std::move(plan), error, layout, account]() mutable {
            if (job != job_) return;  // reset or replaced: publish nothing
            if (plan) {
                if (job->cancelled) {
                    setBusy(false);
                    return;
                }
                setPlan(std::move(plan));
                verifyProgressively(*plan_, layout, [this, job] {
                    if (job == job_) setBusy(false);
                });
                return;
            }
            if (!isCancellation(error)) setError(FriendlyError::describe(error, account.server.host));
            setBusy(false);
        });
    });
}

void CleanupModel::verifyProgressively(const CleanupPlan& plan, const ArchiveLayout& layout,
                                       std::function<void()> done) {
    setChecked(0);
    const int n = int(plan.items.size());
    if (n == 0) {
        if (done) done();
        return;
    }
    auto walk = std::make_shared<Walk>();
    walk->items = plan.items;
    walk->layout = layout;
    walk->pacing = VerifyPacing::forItems(n);
    walk->job = job_;
    walk->planGeneration = planGeneration_;
    walk->done = std::move(done);
    walkStep(walk);
}

void CleanupModel::walkStep(std::shared_ptr<Walk> walk) {
    auto stopped = [this](const Walk& w) {
        return (w.job && w.job->cancelled) || w.planGeneration != planGeneration_;
    };
    auto end = [](const std::shared_ptr<Walk>& w) {
        if (w->done) w->done();
    };
    if (stopped(*walk)) {
        end(walk);
        return;
    }
    const int n = int(walk->items.size());
    const int start = walk->next;
    const int stop = std::min(start + walk->pacing.chunkSize, n);
    auto verifyAll = services_.verifyAll;
    std::vector<CleanupItem> chunk(walk->items.begin() + start, walk->items.begin() + stop);
    const ArchiveLayout layout = walk->layout;
    workers_.start([this, walk, verifyAll, chunk = std::move(chunk), layout, start, stop, stopped, end](
                       std::stop_token) {
        std::vector<CleanupItem::Status> statuses = verifyAll(chunk, layout);
        statuses.resize(chunk.size(), CleanupItem::Status::notBackedUp());
        postTo(this, [this, walk, statuses = std::move(statuses), start, stop, stopped, end] {
            if (stopped(*walk)) {
                end(walk);
                return;
            }
            if (plan_) {
                for (int i = start; i < stop && i < int(plan_->items.size()); ++i)
                    plan_->items[std::size_t(i)].status = statuses[std::size_t(i - start)];
                emit planChanged();
                emit changed();
            }
            checkedAnimation_ = stageMotion() == Motion::fade ? Motion::fade : Motion::snappy;
            setChecked(stop);
            emit itemsVerified(start, stop);
            services_.pause(walk->pacing.pauseSeconds, this, [this, walk, stop, stopped, end] {
                walk->next = stop;
                if (stop < int(walk->items.size()) && !stopped(*walk))
                    walkStep(walk);
                else
                    end(walk);
            });
        });
    });
}

void CleanupModel::run(const MailAccount& account) {
    if (!plan_) return;
    // One release at a time: a second one on the same folder would race the
    // first one's flags and expunges.
    if (busy_) return;
    if (!services_.password || !services_.layout) return;
    const std::optional<std::string> password = services_.password(account);
    if (!password) {
        setError(noPassword(account));
        return;
    }
    const CleanupPlan plan = *plan_;
    busyAccount_ = account.id;
    setBusy(true);
    setError(std::nullopt);
    setReleased(ReleaseProgress{0, int(plan.verified().size())});
    setReleasedUIDs(std::nullopt);
    setLeftoversUnflagged(0);

    auto job = std::make_shared<Job>();
    job_ = job;
    const ArchiveLayout layout = services_.layout();
    auto execute = services_.execute;
    const std::stop_token token = job->stop.get_token();
    workers_.start([this, job, execute, layout, account, pw = *password, plan, token](std::stop_token) {
        std::optional<ReleaseOutcome> outcome;
        std::exception_ptr error;
        auto gone = std::make_shared<std::vector<std::uint32_t>>();
        try {
            outcome = execute(layout, account, pw, plan,
                            [this, job](std::int64_t released, std::int64_t total) {
                                postTo(this, [this, job, released, total] {
                                    if (job == job_) setReleased(ReleaseProgress{int(released), int(total)});
                                });
                            },
                            token, gone.get());
        } catch (...) {
            error = std::current_exception();
        }
        postTo(this, [this, job, outcome, error, plan, account, gone] {
            if (job != job_) return;
            setReleasedUIDs(*gone);
            if (outcome) {
                setLeftoversUnflagged(outcome->leftoversUnflagged);
                finish(int(outcome->released), plan, account, false);
                setBusy(false);
                return;
            }
            try {
                std::rethrow_exception(error);
            } catch (const CleanupError& e) {
                if (e.kind() == CleanupError::Kind::stopped) {
                    setReleased(ReleaseProgress{int(e.released()), int(e.total())});
                    setError(FriendlyError::Message{
                        e.problem() ? "The server reported a problem" : "Stopped", e.errorDescription()});
                    if (e.released() >= 1) finish(int(e.released()), plan, account, true);
                    setBusy(false);
                    return;
                }
                setError(FriendlyError::describe(e, account.server.host));
            } catch (...) {
                setError(FriendlyError::describe(std::current_exception(), account.server.host));
            }
            setBusy(false);
        });
    });
}

QString CleanupModel::summaryLine(std::int64_t count, std::int64_t bytes, const QString& label,
                                  const QString& displayName, const QLocale& locale) {
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(qlonglong(count)) + QStringLiteral(" message") +
           (count == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" · ") +
           ByteCountText::file(bytes, locale) + QStringLiteral(" released from ") + label + QStringLiteral(" › ") +
           displayName + QStringLiteral(". Your verified copies stay in the vault.");
}

QString CleanupModel::toastLine(std::int64_t count, const QLocale& locale) {
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return QStringLiteral("Released ") + grouped.toString(qlonglong(count)) +
           QStringLiteral(" from the server · copies safe in the vault");
}

void CleanupModel::finish(int released, const CleanupPlan& plan, const MailAccount& account, bool partial) {
    const std::vector<CleanupItem> verified = plan.verified();
    std::int64_t bytes = 0;
    if (releasedUIDs_ && std::int64_t(releasedUIDs_->size()) == released) {
        // A re-check just before the release may keep a verified message,
        // so the first `released` items are not always the ones that went.
        const std::set<std::uint32_t> gone(releasedUIDs_->begin(), releasedUIDs_->end());
        for (const auto& item : verified)
            if (gone.count(item.uid)) bytes += item.serverSize;
    } else {
        const std::size_t upto = std::size_t(std::clamp<std::int64_t>(released, 0, std::int64_t(verified.size())));
        for (std::size_t i = 0; i < upto; ++i) bytes += verified[i].serverSize;
    }
    setResult(summaryLine(released, bytes, QString::fromStdString(account.label),
                          QString::fromStdString(plan.displayName)));
    if (partial) return;
    animateStage(CleanupStage::done);
    if (services_.toast) services_.toast(toastLine(released), QStringLiteral("checkmark.shield.fill"), Theme::seal);
}

void CleanupModel::cancel() {
    cancelJob();
    if (stage_ == CleanupStage::verify && !released_) {
        setBusy(false);
        animateStage(CleanupStage::choose);
    }
}

}  // namespace bx
