// The backup asks for the next batch before it writes the current one, so the
// server works while the files are written; a stop with that FETCH in flight
// still ends the run cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "BackupTestSupport.h"
#include "Engines/BackupRunner.h"
#include "Imap/CancellationError.h"
#include "support/FakeIMAPServer.h"

namespace fs = std::filesystem;
using namespace bx;
using namespace bx::test;

namespace {

const std::string kBodyItems = " (UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[])";

std::string fetchReply(std::uint32_t uid, const std::string& body, bool withBody) {
    std::string r = "* " + std::to_string(uid) + " FETCH (UID " + std::to_string(uid) + " RFC822.SIZE " +
                    std::to_string(body.size()) + " INTERNALDATE \"07-Mar-2024 09:15:02 +0000\" FLAGS (\\Seen)";
    if (withBody) r += " BODY[] {" + std::to_string(body.size()) + "}\r\n" + body;
    return r + ")\r\n";
}

// Waits a little for the fake server to record what the client has written.
bool serverHas(const FakeIMAPServer& fake, const std::string& text) {
    for (int i = 0; i < 1000; ++i) {
        if (fake.received().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

}  // namespace

// Batches of one message. When batch k is reported (its file written, the
// sync state saved), the FETCH of batch k+1 is already on the server. A stop
// at that moment ends the run with that FETCH unanswered: no LOGOUT, nothing
// of batch k+1 on disk, the sync state at batch k; the next run goes on from
// there, reporting exactly as before.
TEST(BackupPipeline, NextBatchIsAskedForBeforeThisOneIsWritten) {
    const std::vector<std::string> m = {makeMessage("one"), makeMessage("two"), makeMessage("three")};
    FakeIMAPServer fake;
    scriptSignInAndList(fake)
        .expect("{tag} EXAMINE *")
        .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
        .expect("{tag} UID SEARCH UID 1:*")
        .send("* SEARCH 1 2 3\r\n{tag} OK searched\r\n")
        .expect("{tag} UID FETCH 1:3 (UID RFC822.SIZE INTERNALDATE FLAGS)")
        .send(fetchReply(1, m[0], false) + fetchReply(2, m[1], false) + fetchReply(3, m[2], false) +
              "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 1" + kBodyItems)
        .send(fetchReply(1, m[0], true) + "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 2" + kBodyItems)
        .send(fetchReply(2, m[1], true) + "{tag} OK fetched\r\n")  // never read
        .expectClose()
        .acceptNext();
    scriptSignInAndList(fake)
        .expect("{tag} EXAMINE *")
        .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
        .expect("{tag} UID SEARCH UID 2:*")
        .send("* SEARCH 2 3\r\n{tag} OK searched\r\n")
        .expect("{tag} UID FETCH 2:3 (UID RFC822.SIZE INTERNALDATE FLAGS)")
        .send(fetchReply(2, m[1], false) + fetchReply(3, m[2], false) + "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 2" + kBodyItems)
        .send(fetchReply(2, m[1], true) + "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 3" + kBodyItems)
        .send(fetchReply(3, m[2], true) + "{tag} OK fetched\r\n")
        .expect("{tag} LOGOUT")
        .send("* BYE bye\r\n{tag} OK logged out\r\n");
    fake.start();

    TempDir vault;
    const MailAccount account(UUID::random(), "Fake", "alice", IMAPServer("127.0.0.1", fake.port(), true), "custom",
                              {"INBOX"}, {});
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, "secret");
    runner.batchCount = 1;
    runner.timeout = 5;  // a broken script fails fast

    // First run: stopped at the report of batch 1.
    std::stop_source stop;
    bool checked = false;
    EXPECT_THROW(runner.run(
                     [&](const BackupProgress& p) {
                         if (p.newFiles.empty()) return;
                         EXPECT_TRUE(serverHas(fake, "UID FETCH 2" + kBodyItems));
                         EXPECT_EQ(vault.read(p.newFiles.at(0)), m[0]);
                         EXPECT_EQ(layout.loadSync(account).folders.at("INBOX").highestUID, 1u);
                         checked = true;
                         stop.request_stop();
                     },
                     stop.get_token()),
                 CancellationError);
    EXPECT_TRUE(checked);
    auto state = layout.loadSync(account).folders.at("INBOX");
    EXPECT_EQ(state.highestUID, 1u);
    EXPECT_EQ(state.files.size(), 1u);
    EXPECT_EQ(snapshot(vault.path()).size(), 1u);  // nothing of batch 2

    // Second run: goes on at UID 2, reports as the batches are stored.
    std::vector<std::string> reports;
    const auto summary = runner.run([&](const BackupProgress& p) {
        reports.push_back(p.phase + " " + std::to_string(p.messagesDone) + "/" + std::to_string(p.messagesTotal) +
                          " " + std::to_string(p.newFiles.size()));
        if (p.phase == "Downloading" && p.messagesDone == 1) {
            EXPECT_TRUE(serverHas(fake, "UID FETCH 3" + kBodyItems));
        }
    });
    EXPECT_EQ(reports, (std::vector<std::string>{"Checking 0/0 0", "Measuring 0/0 0", "Downloading 0/2 0",
                                                 "Downloading 1/2 1", "Downloading 2/2 1", "Done 2/2 0"}));
    EXPECT_EQ(summary.newMessages, 2);
    EXPECT_EQ(summary.missing, 0);
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
    // Only the finished run signed out.
    const std::string wire = fake.received();
    EXPECT_EQ(wire.find("LOGOUT"), wire.rfind("LOGOUT"));
    state = layout.loadSync(account).folders.at("INBOX");
    EXPECT_EQ(state.highestUID, 3u);
    ASSERT_EQ(state.files.size(), 3u);
    for (std::uint32_t uid = 1; uid <= 3; ++uid) EXPECT_EQ(vault.read(state.files.at(std::to_string(uid))), m[uid - 1]);
    EXPECT_EQ(snapshot(vault.path()).size(), 3u);
}

// The FETCH of batch k+1 goes out before any file of batch k is written: a
// write that fails (the year folder's name is taken by a file) ends the run
// with that FETCH already on the server.
TEST(BackupPipeline, NextBatchIsOnTheServerBeforeTheFirstWrite) {
    const std::vector<std::string> m = {makeMessage("one"), makeMessage("two")};
    FakeIMAPServer fake;
    scriptSignInAndList(fake)
        .expect("{tag} EXAMINE *")
        .send("* 2 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
        .expect("{tag} UID SEARCH UID 1:*")
        .send("* SEARCH 1 2\r\n{tag} OK searched\r\n")
        .expect("{tag} UID FETCH 1:2 (UID RFC822.SIZE INTERNALDATE FLAGS)")
        .send(fetchReply(1, m[0], false) + fetchReply(2, m[1], false) + "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 1" + kBodyItems)
        .send(fetchReply(1, m[0], true) + "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 2" + kBodyItems)
        .expectClose();
    fake.start();

    TempDir vault;
    const MailAccount account(UUID::random(), "Fake", "alice", IMAPServer("127.0.0.1", fake.port(), true), "custom",
                              {"INBOX"}, {});
    vault.write("Fake/INBOX/2024", "not a folder");
    BackupRunner runner(ArchiveLayout(vault.path()), account, "secret");
    runner.batchCount = 1;
    runner.timeout = 5;
    EXPECT_THROW(runner.run(), std::system_error);
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
}
