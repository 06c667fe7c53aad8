#pragma once
// The made-up vault that demo and screenshot runs open instead of the user's.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QRect>

#include <optional>

#include "Async/Task.h"
#include "Engines/CleanupPlan.h"
#include "Store/StoreTypes.h"

class QWidget;

namespace orrery {
class DemoRecorder;
}

namespace bx {

class AppStore;

struct DemoMode {
    // Writes the demo vault afresh (two accounts, the filler, the featured
    // mail and the sync state a backup would have left) and returns its root.
    // Never fails: whatever cannot be written is skipped and the store opens
    // what is there.
    static std::filesystem::path prepareArchive(const QDateTime& now = QDateTime::currentDateTime());

    // The root prepareArchive writes: in this user's private temp folder, so
    // nobody else can plant the folder or links where it is removed and written.
    static std::filesystem::path archiveRoot();

    static constexpr const char* personalID = "6F1B7C8E-0000-4000-8000-000000000001";
    static constexpr const char* studioID = "6F1B7C8E-0000-4000-8000-000000000002";

    // ---- Free-up walk-through over the demo vault (no server anywhere).
    // The plan a survey of the first account's INBOX would give for messages
    // older than `years`, from the saved sync state, with two made-up
    // problems (a message never backed up, a copy of the wrong size) once
    // there are more than 12 items. None without an account or INBOX state.
    static std::optional<CleanupPlan> demoPlan(AppStore& store, int years,
                                               Date now = std::chrono::system_clock::now());
    // Opens the verify stage and runs the store's real paced verification.
    static orrery::Task<> runDemoCleanup(AppStore& store);
    // A paced release in 12 steps that contacts nothing, then the store's
    // normal finish.
    static orrery::Task<> demoRelease(AppStore& store, int stepMilliseconds = 110);

    // ---- The recording script (BRINDLEBOX_DEMO_DIR); ends the process.
    static orrery::Task<> run();
    // The recording window's frame in a visible screen area: at most
    // 1600 x 1000, centred.
    static QRectF demoFrame(const QRectF& visible);
    // Lays out the window's whole tree so every anchor reports where it is.
    static void refreshAnchors(QWidget* window);
    // Drags the recorder's cursor down the window's timeline spine from
    // `from` (a press there first; without it from the list's current
    // month) to `to`, scrubbing the list to the month under it at each step.
    static orrery::Task<> scrubSpine(orrery::DemoRecorder& rec, QWidget* window, std::optional<MonthKey> from,
                                     MonthKey to, double duration);
    // Recorded windows draw with the active palette even when not active.
    static void drawAsActive(QWidget* window);

    // Process-wide; prepareArchive leaves it empty.
    static std::vector<std::pair<std::string, QByteArray>> pending;
};

}  // namespace bx
