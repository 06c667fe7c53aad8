// The backup engine against a real Dovecot over TLS.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "BackupTestSupport.h"
#include "Engines/BackupRunner.h"
#include "Imap/IMAPError.h"
#include "Mime/EncodedWords.h"
#include "Mime/MIMEParser.h"
#include "Util/Json.h"
#include "Vault/FileNames.h"
#include "Vault/MessageDigests.h"
#include "support/TestCerts.h"

namespace fs = std::filesystem;
using namespace bx;
using namespace bx::test;

namespace {

// Every message of a mailbox as the server sends it, by UID, in one command.
std::map<std::uint32_t, std::string> fetchAll(RawIMAPClient& session, const std::string& mailbox) {
    std::map<std::uint32_t, std::string> out;
    session.examine(mailbox);
    const auto reply = session.check("UID FETCH 1:* (UID BODY.PEEK[])");
    for (const auto& r : reply.untagged) {
        const auto uidAt = r.find("UID ");
        const auto bodyAt = r.find("BODY[] {");
        if (uidAt == std::string::npos || bodyAt == std::string::npos) continue;
        const auto uid = static_cast<std::uint32_t>(std::stoul(r.substr(uidAt + 4)));
        const size_t length = std::stoul(r.substr(bodyAt + 8));
        const size_t start = r.find("}\r\n", bodyAt) + 3;
        out[uid] = r.substr(start, length);
    }
    return out;
}

std::vector<BackupProgress> runCollecting(BackupRunner& runner, BackupSummary& summary) {
    std::vector<BackupProgress> reports;
    summary = runner.run([&](const BackupProgress& p) { reports.push_back(p); });
    return reports;
}

}  // namespace

TEST(BackupRunner, BacksUpAnAccountAndRerunsWithoutFetching) {
    trustTestCA();
    DovecotFixture dovecot(quickDovecot());
    TempDir vault;
    const std::string drafts = "Entw\xC3\xBC" "rfe";
    const std::string draftsRaw = encodeMailboxName(drafts);
    const std::string nested = dovecot.path({"Archive", "2024"});
    struct Box {
        std::string name, raw, dir;
        std::vector<Seeded> messages;
    };
    std::vector<Box> boxes = {
        {"INBOX", "INBOX", "Test Account/INBOX", {}},
        {drafts, draftsRaw, "Test Account/" + drafts, {}},
        {nested, nested, "Test Account/Archive - 2024", {}},
        {"Empty", "Empty", "Test Account/Empty", {}},
    };
    const int counts[] = {2000, 400, 400, 0};
    int first = 0;
    for (size_t b = 0; b < boxes.size(); ++b) {
        dovecot.createMailbox(users::alice, boxes[b].name);
        const auto seed = makeSeed(counts[b], first, 400, 300000);
        const auto uids = dovecot.append(users::alice, boxes[b].name, seed);
        for (size_t i = 0; i < seed.size(); ++i) boxes[b].messages.push_back({uids[i], seed[i].bytes, seed[i].internalDate});
        first += counts[b];
    }

    std::vector<std::string> folders;
    for (const auto& b : boxes) folders.push_back(b.raw);
    folders.push_back("Missing");  // not on the server: skipped, not counted
    const auto account = testAccount(dovecot, folders);
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, users::alice.password);

    BackupSummary summary;
    const auto reports = runCollecting(runner, summary);
    EXPECT_EQ(summary.newMessages, 2800);
    EXPECT_EQ(summary.folders, 4);
    EXPECT_EQ(summary.missing, 0);
    EXPECT_EQ(summary.files.size(), 2800u);

    // Files: the server's bytes, dated by INTERNALDATE, named by the rules.
    const auto sync = layout.loadSync(account);
    auto session = dovecot.session(users::alice);
    std::int64_t totalBytes = 0;
    for (const auto& box : boxes) {
        ASSERT_EQ(sync.folders.count(box.raw), 1u) << box.name;
        const auto& state = sync.folders.at(box.raw);
        EXPECT_EQ(state.directory, box.dir);
        EXPECT_EQ(state.uidValidity, session.uidValidity(box.name));
        EXPECT_TRUE(state.lastRun.has_value());
        EXPECT_EQ(state.files.size(), box.messages.size());
        if (box.messages.empty()) {
            EXPECT_EQ(state.highestUID, 0u);
            continue;
        }
        EXPECT_EQ(state.highestUID, box.messages.back().uid);
        const auto onServer = fetchAll(session, box.name);
        ASSERT_EQ(onServer.size(), box.messages.size());
        for (const auto& m : box.messages) {
            const std::string key = std::to_string(m.uid);
            ASSERT_EQ(state.files.count(key), 1u) << box.name << " " << key;
            const std::string& rel = state.files.at(key);
            const std::string& server = onServer.at(m.uid);
            EXPECT_EQ(vault.read(rel), server) << rel;
            EXPECT_EQ(mtimeOf(vault / rel), secondsSince1970(m.internalDate)) << rel;
            ASSERT_TRUE(state.sizes.has_value());
            EXPECT_EQ(state.sizes->at(key), static_cast<std::int64_t>(server.size()));
            const auto headers = MIMEParser::headers(m.bytes);
            EXPECT_EQ(rel, box.dir + "/" +
                               FileNames::messagePath(m.internalDate, EncodedWords::decode(*headers["Subject"]), key));
            totalBytes += static_cast<std::int64_t>(server.size());
        }
    }
    EXPECT_EQ(summary.bytes, totalBytes);
    // Two names spelled out: the colon and slash of a subject, an encoded word.
    const auto& inbox = sync.folders.at("INBOX");
    EXPECT_EQ(inbox.files.at(std::to_string(boxes[0].messages[3].uid)),
              "Test Account/INBOX/2020/2020-01-02 Re a b 3 " + std::to_string(boxes[0].messages[3].uid) + ".eml");
    EXPECT_EQ(inbox.files.at(std::to_string(boxes[0].messages[5].uid)),
              "Test Account/INBOX/2020/2020-01-03 Gr\xC3\xBC\xC3\x9F" "e 5 " +
                  std::to_string(boxes[0].messages[5].uid) + ".eml");

    // Reports: per mailbox Checking, then (when there is something new)
    // Measuring, Downloading with zero, one Downloading per batch; then Done.
    ASSERT_FALSE(reports.empty());
    std::vector<std::string> newFiles;
    std::map<std::string, std::vector<std::string>> phases;
    for (const auto& r : reports) {
        EXPECT_EQ(r.account, "Test Account");
        if (r.phase != "Done") phases[r.mailbox].push_back(r.phase);
        newFiles.insert(newFiles.end(), r.newFiles.begin(), r.newFiles.end());
        if (r.phase == "Downloading") {
            EXPECT_LE(r.newFiles.size(), 40u);
            EXPECT_EQ(r.messagesTotal, static_cast<std::int64_t>(
                                           std::find_if(boxes.begin(), boxes.end(), [&](const Box& b) {
                                               return b.raw == r.mailbox;
                                           })->messages.size()));
        }
    }
    EXPECT_EQ(newFiles, summary.files);
    EXPECT_EQ(phases["Empty"], std::vector<std::string>{"Checking"});
    const auto& inboxPhases = phases["INBOX"];
    ASSERT_GE(inboxPhases.size(), 3u + 50u);
    EXPECT_EQ(inboxPhases[0], "Checking");
    EXPECT_EQ(inboxPhases[1], "Measuring");
    EXPECT_EQ(std::count(inboxPhases.begin(), inboxPhases.end(), "Downloading"),
              static_cast<long>(inboxPhases.size() - 2));
    const auto& done = reports.back();
    EXPECT_EQ(done.phase, "Done");
    EXPECT_EQ(done.mailbox, "Empty");
    EXPECT_EQ(done.folder, "Empty");
    EXPECT_EQ(done.completed, (std::map<std::string, std::int64_t>{
                                  {"INBOX", 2000}, {draftsRaw, 400}, {nested, 400}, {"Empty", 0}}));
    const auto draftsCheck = std::find_if(reports.begin(), reports.end(), [&](const BackupProgress& p) {
        return p.mailbox == draftsRaw && p.phase == "Checking";
    });
    ASSERT_NE(draftsCheck, reports.end());
    EXPECT_EQ(draftsCheck->folder, drafts);
    EXPECT_EQ(draftsCheck->completed, (std::map<std::string, std::int64_t>{{"INBOX", 2000}}));

    // A second run finds nothing new: no fetch, no file touched.
    const auto before = snapshot(vault.path());
    EXPECT_EQ(before.size(), 2800u);
    BackupSummary again;
    const auto reports2 = runCollecting(runner, again);
    EXPECT_EQ(again.newMessages, 0);
    EXPECT_EQ(again.folders, 4);
    EXPECT_TRUE(again.files.empty());
    for (const auto& r : reports2) EXPECT_TRUE(r.phase == "Checking" || r.phase == "Done") << r.phase;
    EXPECT_EQ(snapshot(vault.path()), before);
    auto sync2 = layout.loadSync(account);
    for (auto& [name, state] : sync2.folders) {
        EXPECT_GE(*state.lastRun, *sync.folders.at(name).lastRun);
        state.lastRun = sync.folders.at(name).lastRun;
    }
    EXPECT_EQ(sync2, sync);
}

TEST(BackupRunner, NoChosenFoldersMeansTheInboxAlone) {
    trustTestCA();
    DovecotFixture dovecot;
    TempDir vault;
    dovecot.append(users::alice, "INBOX", makeSeed(3));
    dovecot.append(users::alice, "Other", makeSeed(2));
    const auto account = testAccount(dovecot, {});
    BackupRunner runner(ArchiveLayout(vault.path()), account, users::alice.password);
    BackupSummary summary;
    const auto reports = runCollecting(runner, summary);
    EXPECT_EQ(summary.newMessages, 3);
    EXPECT_EQ(summary.folders, 1);
    for (const auto& r : reports) EXPECT_TRUE(r.mailbox == "INBOX" || r.phase == "Done");
}

TEST(BackupRunner, WrongPasswordFailsWithTheLoginError) {
    trustTestCA();
    DovecotFixture dovecot;
    TempDir vault;
    BackupRunner runner(ArchiveLayout(vault.path()), testAccount(dovecot, {"INBOX"}), "wrong");
    try {
        runner.run();
        FAIL() << "expected a refusal";
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.kind(), IMAPError::Kind::commandFailed);
        EXPECT_EQ(e.command(), "LOGIN");
    }
    EXPECT_FALSE(fs::exists(vault / ".brindlebox"));
}

// A renumbered mailbox (recreated with the same messages in another order,
// so every UID and the UIDVALIDITY differ) costs no second copy: each message
// is matched to its existing file by size and bytes.
// A rerun that finds nothing new costs what the folders cost, not what the
// account holds: each folder's new last run goes to the journal and the sync
// file stays as it was. The next folder with something new folds it in.
TEST(BackupRunner, NothingNewLeavesTheSyncFileAlone) {
    trustTestCA();
    DovecotFixture dovecot(quickDovecot());
    TempDir vault;
    dovecot.append(users::alice, "INBOX", makeSeed(12));
    dovecot.append(users::alice, "Work", makeSeed(5, 12));
    dovecot.createMailbox(users::alice, "Empty");
    const auto account = testAccount(dovecot, {"INBOX", "Work", "Empty"});
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, users::alice.password);
    ASSERT_EQ(runner.run().newMessages, 17);
    const auto first = layout.loadSync(account);
    const std::string fileBefore = vault.read(layout.syncURL(account));
    struct stat st {};
    ASSERT_EQ(::stat(layout.syncURL(account).c_str(), &st), 0);
    const ino_t inodeBefore = st.st_ino;

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a later last run, in whole seconds
    const auto again = runner.run();
    EXPECT_EQ(again.newMessages, 0);
    EXPECT_EQ(again.folders, 3);
    ASSERT_EQ(::stat(layout.syncURL(account).c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, inodeBefore);
    EXPECT_EQ(vault.read(layout.syncURL(account)), fileBefore);
    auto second = layout.loadSync(account);
    for (auto& [name, state] : second.folders) {
        ASSERT_TRUE(state.lastRun && first.folders.at(name).lastRun) << name;
        EXPECT_GT(*state.lastRun, *first.folders.at(name).lastRun) << name;
        state.lastRun = first.folders.at(name).lastRun;
    }
    EXPECT_EQ(second, first);

    // New mail in one folder: the file is written whole again, with what the
    // journal held.
    dovecot.append(users::alice, "Work", makeSeed(2, 40));
    EXPECT_EQ(runner.run().newMessages, 2);
    ASSERT_NE(vault.read(layout.syncURL(account)), fileBefore);
    const auto third = AccountSyncState::fromJSON(vault.read(layout.syncURL(account)));
    EXPECT_EQ(third.folders.at("Work"), layout.loadSync(account).folders.at("Work"));
    EXPECT_EQ(third.folders.at("Work").files.size(), 7u);
    EXPECT_EQ(third.folders.at("INBOX").files, first.folders.at("INBOX").files);
    EXPECT_GT(*third.folders.at("INBOX").lastRun, *first.folders.at("INBOX").lastRun);
}

TEST(BackupRunner, UidValidityChangeReusesExistingFiles) {
    trustTestCA();
    DovecotFixture dovecot;
    TempDir vault;
    auto seed = makeSeed(60, 0, 20, 20000);
    // Two identical messages: both UIDs end up recorded with one file.
    seed.push_back(seed[0]);
    dovecot.append(users::alice, "Work", seed);
    const auto account = testAccount(dovecot, {"Work"});
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, users::alice.password);
    const auto first = runner.run();
    EXPECT_EQ(first.newMessages, 61);
    const auto before = snapshot(vault.path());
    EXPECT_EQ(before.size(), 61u);  // the twin has its own UID, so its own name
    const auto oldState = layout.loadSync(account).folders.at("Work");
    std::set<std::string> oldPaths;
    for (const auto& [uid, path] : oldState.files) oldPaths.insert(path);

    {
        auto s = dovecot.session(users::alice);
        s.check("DELETE Work");
    }
    std::reverse(seed.begin(), seed.end());
    dovecot.append(users::alice, "Work", seed);
    dovecot.setUidValidity(users::alice, "Work", oldState.uidValidity + 1000);

    const auto second = runner.run();
    EXPECT_EQ(second.newMessages, 61);
    EXPECT_EQ(snapshot(vault.path()), before);  // nothing written, nothing touched
    const auto state = layout.loadSync(account).folders.at("Work");
    EXPECT_EQ(state.uidValidity, oldState.uidValidity + 1000);
    EXPECT_EQ(state.files.size(), 61u);
    auto session = dovecot.session(users::alice);
    for (const auto& [uid, path] : state.files) {
        EXPECT_TRUE(oldPaths.count(path)) << path;
        EXPECT_EQ(vault.read(path), session.fetchRaw("Work", static_cast<std::uint32_t>(std::stoul(uid))));
    }
    ASSERT_TRUE(state.sizes.has_value());
    EXPECT_EQ(state.sizes->size(), 61u);
}

// The files a renumbered mailbox finds again keep their one digest record
// each: the digests file does not grow by a copy of itself.
TEST(BackupRunner, UidValidityChangeKeepsOneDigestRecordPerFile) {
    trustTestCA();
    DovecotFixture dovecot;
    TempDir vault;
    const auto seed = makeSeed(3);
    dovecot.append(users::alice, "Work", seed);
    const auto account = testAccount(dovecot, {"Work"});
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, users::alice.password);
    EXPECT_EQ(runner.run().newMessages, 3);
    const fs::path digests = MessageDigests::fileFor(layout, "Test Account/Work");
    const std::string records = vault.read(digests);
    const std::uint32_t validity = layout.loadSync(account).folders.at("Work").uidValidity;
    {
        auto s = dovecot.session(users::alice);
        s.check("DELETE Work");
    }
    dovecot.append(users::alice, "Work", seed);
    dovecot.setUidValidity(users::alice, "Work", validity + 1000);

    EXPECT_EQ(runner.run().newMessages, 3);
    EXPECT_EQ(vault.read(digests), records);
    const auto state = layout.loadSync(account).folders.at("Work");
    ASSERT_EQ(state.files.size(), 3u);
    for (const auto& [uid, path] : state.files)
        EXPECT_EQ(MessageDigests::lookup(layout, path), MessageDigests::sha256(vault.read(path))) << path;
}

// Two accounts with one label keep separate folders; the second is marked
// with the start of its id.
TEST(BackupRunner, SameLabelAccountsGetSeparateFolders) {
    trustTestCA();
    DovecotFixture dovecot;
    TempDir vault;
    dovecot.append(users::alice, "INBOX", makeSeed(2));
    ArchiveLayout layout(vault.path());
    const auto a = testAccount(dovecot, {"INBOX"}, "Work");
    const auto b = testAccount(dovecot, {"INBOX"}, "Work");
    BackupRunner(layout, a, users::alice.password).run();
    BackupRunner(layout, b, users::alice.password).run();
    EXPECT_EQ(layout.loadSync(a).folders.at("INBOX").directory, "Work/INBOX");
    EXPECT_EQ(layout.loadSync(b).folders.at("INBOX").directory, "Work (" + b.id.string().substr(0, 8) + ")/INBOX");
    // The first account keeps its folder on later runs, also for new mailboxes.
    dovecot.append(users::alice, "Later", makeSeed(1));
    auto a2 = a;
    a2.folders.push_back("Later");
    BackupRunner(layout, a2, users::alice.password).run();
    EXPECT_EQ(layout.loadSync(a2).folders.at("Later").directory, "Work/Later");
    EXPECT_EQ(snapshot(vault.path()).size(), 5u);
}

// Without its sync file (lost or damaged) an account starts afresh, and every
// message already in the vault is recognised instead of stored again.
TEST(BackupRunner, LostSyncFileStoresNothingTwice) {
    trustTestCA();
    DovecotFixture dovecot;
    TempDir vault;
    dovecot.append(users::alice, "INBOX", makeSeed(30, 0, 10, 30000));
    const auto account = testAccount(dovecot, {"INBOX"});
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, users::alice.password);
    runner.batchCount = 7;
    EXPECT_EQ(runner.run().newMessages, 30);
    const auto before = snapshot(vault.path());
    const auto state = layout.loadSync(account);
    for (const char* damage : {"", "{\"folders\": 3}"}) {
        TempDir scratch;
        scratch.write("sync.json", damage);
        fs::copy_file(scratch / "sync.json", layout.syncURL(account), fs::copy_options::overwrite_existing);
        const auto again = runner.run();
        EXPECT_EQ(again.newMessages, 30);
        EXPECT_EQ(snapshot(vault.path()), before);
        auto reloaded = layout.loadSync(account);
        reloaded.folders.at("INBOX").lastRun = state.folders.at("INBOX").lastRun;
        EXPECT_EQ(reloaded, state);
    }
}

// Each batch is recorded as it ends, at a cost that follows the batch: its
// entries go to the journal and the sync file is not rewritten until the
// folder ends. Every stored file has its digest for the copy check.
TEST(BackupRunner, BatchesGoToTheJournalAndFilesGetDigests) {
    trustTestCA();
    DovecotFixture dovecot(quickDovecot());
    TempDir vault;
    dovecot.append(users::alice, "INBOX", makeSeed(30));
    const auto account = testAccount(dovecot, {"INBOX"});
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, users::alice.password);
    runner.batchCount = 7;

    std::vector<std::string> reported;
    std::set<ino_t> syncFiles;
    int batches = 0;
    const auto summary = runner.run([&](const BackupProgress& p) {
        if (p.phase != "Downloading" || p.newFiles.empty()) return;
        ++batches;
        reported.insert(reported.end(), p.newFiles.begin(), p.newFiles.end());
        std::set<std::string> recorded;
        const auto sync = layout.loadSync(account);
        for (const auto& [uid, path] : sync.folders.at("INBOX").files) recorded.insert(path);
        for (const auto& path : reported) EXPECT_TRUE(recorded.count(path)) << "batch " << batches << ": " << path;
        struct stat st {};
        ASSERT_EQ(::stat(layout.syncURL(account).c_str(), &st), 0);
        syncFiles.insert(st.st_ino);
    });
    EXPECT_EQ(summary.newMessages, 30);
    EXPECT_EQ(batches, 5);
    EXPECT_EQ(syncFiles.size(), 1u);  // written once when the folder began, then only the journal grew
    EXPECT_FALSE(fs::exists(layout.syncJournalURL(account.id)));

    const auto state = layout.loadSync(account).folders.at("INBOX");
    EXPECT_EQ(state.files.size(), 30u);
    EXPECT_TRUE(state.lastRun.has_value());
    for (const auto& [uid, path] : state.files)
        EXPECT_EQ(MessageDigests::lookup(layout, path), MessageDigests::sha256(vault.read(path))) << path;
}

// The count a window shows moves with the files as they land inside a batch,
// at most once per progressInterval; each batch's end is reported whatever
// the interval. The reported count is what is on disk at that moment.
TEST(BackupRunner, WrittenFilesAreReportedWithinABatch) {
    trustTestCA();
    DovecotFixture dovecot(quickDovecot());
    dovecot.append(users::alice, "INBOX", makeSeed(30));
    const auto account = testAccount(dovecot, {"INBOX"});

    struct Case {
        const char* name;
        double interval;
        std::vector<std::int64_t> counts;  // messagesDone of the Downloading reports
    };
    // Files are named to the window only once their batch is recorded: by
    // the last report alone.
    std::vector<std::int64_t> every;
    for (std::int64_t i = 0; i <= 30; ++i) every.push_back(i);
    every.push_back(30);  // the batch's own report, with its files
    const Case cases[] = {
        {"every file", 0.0, every},
        {"batch ends only", 3600.0, {0, 30}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        ArchiveLayout layout(root.path());
        BackupRunner runner(layout, account, users::alice.password);
        runner.batchCount = 40;
        runner.progressInterval = c.interval;

        std::vector<std::int64_t> counts;
        std::vector<std::size_t> named;
        const auto summary = runner.run([&](const BackupProgress& p) {
            if (p.phase != "Downloading") return;
            counts.push_back(p.messagesDone);
            named.push_back(p.newFiles.size());
            std::int64_t files = 0, bytes = 0;
            for (const auto& [path, facts] : snapshot(root.path()))
                if (path.ends_with(".eml")) {
                    ++files;
                    bytes += static_cast<std::int64_t>(facts.size);
                }
            EXPECT_EQ(p.messagesDone, files);
            EXPECT_EQ(p.bytesDone, bytes);
            EXPECT_EQ(p.messagesTotal, 30);
        });
        EXPECT_EQ(summary.newMessages, 30);
        EXPECT_EQ(counts, c.counts);
        std::vector<std::size_t> namedOnlyAtTheEnd(c.counts.size(), 0);
        namedOnlyAtTheEnd.back() = 30;
        EXPECT_EQ(named, namedOnlyAtTheEnd);
    }
}
