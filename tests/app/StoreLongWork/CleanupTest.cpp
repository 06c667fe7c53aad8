// The free-up flow's model: pacing, stages, cancellation and release
// outcomes, against scripted engines and a recording clock.
#include "LongWorkSupport.h"

#include "Imap/CancellationError.h"
#include "Imap/IMAPError.h"
#include "Store/ByteCountText.h"
#include "Store/CleanupModel.h"
#include "Theme/Theme.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace bx;
using namespace bx::test;
using namespace std::chrono_literals;

namespace {

CleanupPlan planOf(int n, const std::string& displayName = "INBOX") {
    std::vector<CleanupItem> items;
    for (int i = 0; i < n; ++i)
        items.emplace_back(std::uint32_t(i + 1), 1000 * (i + 1), std::nullopt,
                           "Work/INBOX/2020/m" + std::to_string(i + 1) + ".eml", CleanupItem::Status::pending());
    return CleanupPlan("INBOX", displayName, Date{}, 7, std::move(items));
}

// Scripted services: plans, statuses, releases and a clock that records
// every pause and ends it on the next turn of the event loop.
struct Script {
    std::map<std::string, std::string> passwords{{"Work", "pw"}};
    std::function<CleanupPlan(std::stop_token)> survey = [](std::stop_token) { return planOf(3); };
    std::function<std::int64_t(const CleanupPlan&, const Cleaner::Progress&, std::stop_token)> execute =
        [](const CleanupPlan& plan, const Cleaner::Progress&, std::stop_token) {
            return std::int64_t(plan.verified().size());
        };
    std::function<CleanupItem::Status(const CleanupItem&)> verify = [](const CleanupItem&) {
        return CleanupItem::Status::verified();
    };
    std::vector<std::uint32_t> releasedUIDs;  // what the engine says went
    std::vector<double> pauses;
    std::vector<int> checkedAtPause;
    bool holdPauses = false;
    std::vector<std::function<void()>> heldPauses;
    std::vector<ToastRecord> toasts;
    CleanupModel* model = nullptr;

    CleanupModel::Services services() {
        CleanupModel::Services s;
        s.layout = [] { return ArchiveLayout("/nonexistent-vault"); };
        s.password = [this](const MailAccount& a) -> std::optional<std::string> {
            auto it = passwords.find(a.label);
            if (it == passwords.end()) return std::nullopt;
            return it->second;
        };
        s.toast = [this](const QString& t, const QString& sym, const ThemeColor& tint) {
            toasts.push_back({t, sym, tint});
        };
        s.survey = [this](const ArchiveLayout&, const MailAccount&, const std::string&, const std::string&, Date,
                          std::stop_token stop) { return survey(stop); };
        s.execute = [this](const ArchiveLayout&, const MailAccount&, const std::string&, const CleanupPlan& plan,
                           const Cleaner::Progress& progress, std::stop_token stop, std::vector<std::uint32_t>* gone) {
            if (gone) *gone = releasedUIDs;
            return execute(plan, progress, stop);
        };
        s.verify = [this](const CleanupItem& item, const ArchiveLayout&) { return verify(item); };
        s.pause = [this](double seconds, QObject* context, std::function<void()> then) {
            pauses.push_back(seconds);
            checkedAtPause.push_back(model ? model->checked() : -1);
            if (holdPauses)
                heldPauses.push_back(then);
            else
                QTimer::singleShot(0, context, then);
        };
        s.reduceMotion = [] { return false; };
        return s;
    }
};

struct Cleanup : ::testing::Test {
    Script script;
    std::unique_ptr<CleanupModel> model;
    MailAccount work = makeAccount("Work", {"INBOX"});

    void SetUp() override {
        model = std::make_unique<CleanupModel>(script.services());
        script.model = model.get();
    }
    void TearDown() override {
        if (model) model->cancel();
        model.reset();
    }
    void checkAndWait() {
        model->check(work, "INBOX", Date{});
        ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
    }
};

}  // namespace

TEST(CleanupPacing, Table) {
    struct Case {
        int n;
        int chunk;
        double pause;
        int chunks;
    } cases[] = {
        {0, 1, 0, 0},     {1, 1, 0.12, 1},        {5, 1, 0.12, 5},      {15, 1, 0.12, 15},
        {16, 1, 1.8 / 16, 16}, {20, 1, 0.09, 20}, {40, 1, 0.045, 40},   {41, 2, 0.045, 21},
        {100, 3, 0.045, 34},   {10000, 250, 0.045, 40},
    };
    for (const auto& c : cases) {
        const VerifyPacing p = VerifyPacing::forItems(c.n);
        EXPECT_EQ(p.chunkSize, c.chunk) << c.n;
        EXPECT_DOUBLE_EQ(p.pauseSeconds, c.pause) << c.n;
        EXPECT_EQ(p.chunks, c.chunks) << c.n;
    }
    EXPECT_EQ(CleanupModel::stageFromRaw(2), CleanupStage::release);
    EXPECT_FALSE(CleanupModel::stageFromRaw(4));
    EXPECT_FALSE(CleanupModel::stageFromRaw(-1));
}

TEST_F(Cleanup, VerifyWalkPausesAfterEveryChunk) {
    struct Case {
        int n;
        int chunk;
        double pause;
    } cases[] = {{0, 1, 0}, {5, 1, 0.12}, {20, 1, 0.09}, {100, 3, 0.045}};
    for (const auto& c : cases) {
        script.pauses.clear();
        script.checkedAtPause.clear();
        script.survey = [n = c.n](std::stop_token) { return planOf(n); };
        checkAndWait();
        const int chunks = c.n == 0 ? 0 : (c.n + c.chunk - 1) / c.chunk;
        ASSERT_EQ(int(script.pauses.size()), chunks) << c.n;
        for (double p : script.pauses) EXPECT_DOUBLE_EQ(p, c.pause) << c.n;
        for (int i = 0; i < chunks; ++i) EXPECT_EQ(script.checkedAtPause[i], std::min(c.n, (i + 1) * c.chunk)) << c.n;
        EXPECT_EQ(model->checked(), c.n);
        EXPECT_EQ(model->stage(), CleanupStage::verify);
        ASSERT_TRUE(model->plan());
        EXPECT_EQ(int(model->plan()->verified().size()), c.n);
    }
}

TEST_F(Cleanup, CheckWithoutPasswordStaysAtChoose) {
    script.passwords.clear();
    model->check(work, "INBOX", Date{});
    EXPECT_EQ(model->stage(), CleanupStage::choose);
    EXPECT_FALSE(model->busy());
    ASSERT_TRUE(model->error());
    EXPECT_EQ(model->error()->title, "No saved password for Work");
    EXPECT_EQ(model->error()->advice, "Remove the account and add it again.");
}

TEST_F(Cleanup, SurveyFailureAndCancellation) {
    script.survey = [](std::stop_token) -> CleanupPlan { throw IMAPError::timeout(); };
    checkAndWait();
    EXPECT_EQ(model->stage(), CleanupStage::verify);
    ASSERT_TRUE(model->error());
    EXPECT_EQ(*model->error(), FriendlyError::describe(IMAPError::timeout(), std::string("mail.example.com")));

    script.survey = [](std::stop_token) -> CleanupPlan { throw CancellationError(); };
    checkAndWait();
    EXPECT_FALSE(model->error());
    EXPECT_FALSE(model->plan());
}

TEST_F(Cleanup, CancelDuringTheWalkKeepsWrittenStatusesAndGoesBackToChoose) {
    script.survey = [](std::stop_token) { return planOf(10); };
    script.holdPauses = true;
    model->check(work, "INBOX", Date{});
    ASSERT_TRUE(spinUntil([&] { return script.heldPauses.size() == 1; }));
    script.heldPauses[0]();
    ASSERT_TRUE(spinUntil([&] { return script.heldPauses.size() == 2; }));
    ASSERT_EQ(model->checked(), 2);
    model->cancel();
    EXPECT_EQ(model->stage(), CleanupStage::choose);
    EXPECT_FALSE(model->busy());
    script.heldPauses.back()();  // the pause ends after the cancel
    drainEvents();
    EXPECT_EQ(model->checked(), 2);
    ASSERT_TRUE(model->plan());
    EXPECT_EQ(model->plan()->verified().size(), 2u);
    EXPECT_EQ(model->plan()->pending(), 8);
}

// A walk still verifying a chunk of an old plan must not write into the
// plan of a newer check, whose items are other messages at the same places.
TEST_F(Cleanup, AStaleWalkNeverWritesIntoANewerPlan) {
    std::atomic<bool> holdVerify{true};
    std::atomic<int> verifying{0};
    std::atomic<bool> secondCheck{false};
    // The first check's copies read as unreadable and its first chunk is
    // held until the second check has finished; the second's read as verified.
    script.verify = [&](const CleanupItem&) {
        if (secondCheck) return CleanupItem::Status::verified();
        ++verifying;
        while (holdVerify) std::this_thread::sleep_for(1ms);
        return CleanupItem::Status::unreadable();
    };
    script.survey = [](std::stop_token) { return planOf(4, "Old"); };
    model->check(work, "INBOX", Date{});
    ASSERT_TRUE(spinUntil([&] { return verifying.load() > 0; }));

    // The user starts again with a new plan.
    secondCheck = true;
    script.survey = [](std::stop_token) { return planOf(4, "New"); };
    model->check(work, "INBOX", Date{});
    ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
    holdVerify = false;
    model->joinWorkers();
    drainEvents();
    ASSERT_TRUE(model->plan());
    EXPECT_EQ(model->plan()->displayName, "New");
    EXPECT_EQ(model->plan()->verified().size(), 4u);
    EXPECT_EQ(model->checked(), 4);
    EXPECT_FALSE(model->busy());
}

TEST_F(Cleanup, ReleaseOutcomes) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    checkAndWait();  // three verified items of 1000, 2000, 3000 bytes
    model->setStage(CleanupStage::release);

    // Success: summary, toast, done.
    script.execute = [](const CleanupPlan&, const Cleaner::Progress& progress, std::stop_token) {
        progress(0, 3);
        progress(3, 3);
        return std::int64_t(3);
    };
    model->run(work);
    EXPECT_TRUE(model->busy());
    ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
    EXPECT_EQ(model->stage(), CleanupStage::done);
    EXPECT_EQ(model->result(),
              QStringLiteral("3 messages · 6 KB released from Work › INBOX. Your verified copies stay in the vault."));
    ASSERT_EQ(script.toasts.size(), 1u);
    EXPECT_EQ(script.toasts[0].text, QStringLiteral("Released 3 from the server · copies safe in the vault"));
    EXPECT_EQ(script.toasts[0].symbol, QStringLiteral("checkmark.shield.fill"));
    EXPECT_EQ(script.toasts[0].tint, Theme::seal);
    EXPECT_EQ(model->released(), (ReleaseProgress{3, 3}));

    // Stopped by the server after one: partial summary, stays at release.
    struct Case {
        CleanupError error;
        const char* title;
        std::optional<const char*> result;
    } cases[] = {
        {CleanupError::stopped(1, 3, std::string("NO [SERVERBUG] oops")), "The server reported a problem",
         "1 message · 1 KB released from Work › INBOX. Your verified copies stay in the vault."},
        {CleanupError::stopped(0, 3, std::nullopt), "Stopped", std::nullopt},
    };
    for (const auto& c : cases) {
        checkAndWait();
        model->setStage(CleanupStage::release);
        script.toasts.clear();
        script.execute = [&c](const CleanupPlan&, const Cleaner::Progress&, std::stop_token) -> std::int64_t {
            throw c.error;
        };
        model->run(work);
        ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
        EXPECT_EQ(model->stage(), CleanupStage::release) << c.title;
        ASSERT_TRUE(model->error()) << c.title;
        EXPECT_EQ(model->error()->title, c.title);
        EXPECT_EQ(model->error()->advice, c.error.errorDescription());
        EXPECT_EQ(model->released(), (ReleaseProgress{int(c.error.released()), 3}));
        EXPECT_EQ(model->result(), c.result ? std::optional<QString>(QString::fromUtf8(*c.result)) : std::nullopt);
        EXPECT_TRUE(script.toasts.empty());
    }

    // Other failures go through the friendly texts.
    checkAndWait();
    model->setStage(CleanupStage::release);
    script.execute = [](const CleanupPlan&, const Cleaner::Progress&, std::stop_token) -> std::int64_t {
        throw CleanupError::uidValidityChanged();
    };
    model->run(work);
    ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
    EXPECT_EQ(*model->error(), FriendlyError::describe(CleanupError::uidValidityChanged(), std::string("mail.example.com")));
    EXPECT_FALSE(model->result());
}

TEST_F(Cleanup, OneMessageReleasedWordsItInTheSingular) {
    script.survey = [](std::stop_token) { return planOf(1); };
    checkAndWait();
    model->setStage(CleanupStage::release);
    model->run(work);
    ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
    EXPECT_TRUE(model->result()->startsWith(QStringLiteral("1 message · ")));
    EXPECT_EQ(script.toasts.at(0).text, QStringLiteral("Released 1 from the server · copies safe in the vault"));
}

// A second release while one runs would race the first one's flags on the
// same folder; a release without a password says so instead of doing
// nothing.
TEST_F(Cleanup, ReleaseIsRefusedWhileOneRunsAndWithoutPassword) {
    checkAndWait();
    model->setStage(CleanupStage::release);
    std::atomic<int> releases{0};
    std::atomic<bool> hold{true};
    script.execute = [&](const CleanupPlan& plan, const Cleaner::Progress&, std::stop_token) {
        ++releases;
        while (hold) std::this_thread::sleep_for(1ms);
        return std::int64_t(plan.verified().size());
    };
    model->run(work);
    model->run(work);
    hold = false;
    ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
    model->joinWorkers();
    EXPECT_EQ(releases.load(), 1);
    EXPECT_EQ(script.toasts.size(), 1u);

    checkAndWait();
    model->setStage(CleanupStage::release);
    script.passwords.clear();
    model->run(work);
    EXPECT_FALSE(model->busy());
    ASSERT_TRUE(model->error());
    EXPECT_EQ(model->error()->title, "No saved password for Work");
    EXPECT_EQ(model->stage(), CleanupStage::release);
}

TEST_F(Cleanup, CancelInEveryStage) {
    // choose: nothing to cancel, nothing changes.
    model->cancel();
    EXPECT_EQ(model->stage(), CleanupStage::choose);

    // verify, during the survey: back to choose, the survey publishes nothing.
    std::atomic<bool> surveyed{false};
    script.survey = [&](std::stop_token stop) -> CleanupPlan {
        while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
        surveyed = true;
        return planOf(3);
    };
    model->check(work, "INBOX", Date{});
    EXPECT_EQ(model->stage(), CleanupStage::verify);
    model->cancel();
    EXPECT_EQ(model->stage(), CleanupStage::choose);
    EXPECT_FALSE(model->busy());
    model->joinWorkers();
    drainEvents();
    EXPECT_TRUE(surveyed);
    EXPECT_FALSE(model->plan());

    // release: the engine notices between chunks and ends with stopped.
    script.survey = [](std::stop_token) { return planOf(3); };
    checkAndWait();
    model->setStage(CleanupStage::release);
    script.execute = [](const CleanupPlan&, const Cleaner::Progress& progress, std::stop_token stop) -> std::int64_t {
        progress(0, 3);
        while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
        throw CleanupError::stopped(0, 3, std::nullopt);
    };
    model->run(work);
    ASSERT_TRUE(spinUntil([&] { return model->released().has_value(); }));
    model->cancel();
    EXPECT_EQ(model->stage(), CleanupStage::release);
    ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
    EXPECT_EQ(model->error()->title, "Stopped");

    // done: nothing changes; reset clears everything.
    model->finish(3, *model->plan(), work, false);
    EXPECT_EQ(model->stage(), CleanupStage::done);
    model->cancel();
    EXPECT_EQ(model->stage(), CleanupStage::done);
    model->reset();
    EXPECT_EQ(model->stage(), CleanupStage::choose);
    EXPECT_FALSE(model->plan() || model->error() || model->result() || model->released());
    EXPECT_EQ(model->checked(), 0);
}

TEST(ByteCountText, FileStyle) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    struct Case {
        std::int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "Zero KB"},           {1, "1 byte"},           {999, "999 bytes"},    {1000, "1 KB"},
        {1499, "1 KB"},           {999499, "999 KB"},      {999500, "1 MB"},      {3400000, "3.4 MB"},
        {5000000, "5 MB"},        {84200000, "84.2 MB"},   {1250000000, "1.25 GB"}, {2000000000, "2 GB"},
        {12345, "12 KB"},         {48213, "48 KB"},        {2350000000, "2.35 GB"},
    };
    for (const auto& c : cases) EXPECT_EQ(ByteCountText::file(c.bytes, english), QString::fromUtf8(c.text)) << c.bytes;
}

// The re-check before the release may keep a verified message: the summary
// counts the bytes of the messages that went, as the engine names them.
TEST_F(Cleanup, SummaryCountsTheBytesOfTheMessagesThatWent) {
    checkAndWait();  // items of 1000, 2000 and 3000 bytes, UIDs 1 to 3
    model->setStage(CleanupStage::release);
    script.releasedUIDs = {1, 3};
    script.execute = [](const CleanupPlan&, const Cleaner::Progress&, std::stop_token) { return std::int64_t(2); };
    model->run(work);
    ASSERT_TRUE(spinUntil([&] { return !model->busy(); }));
    EXPECT_EQ(model->result(),
              QStringLiteral("2 messages · 4 KB released from Work › INBOX. Your verified copies stay in the vault."));
    EXPECT_EQ(model->releasedUIDs(), (std::vector<std::uint32_t>{1, 3}));
    model->reset();
    EXPECT_FALSE(model->releasedUIDs());
}
