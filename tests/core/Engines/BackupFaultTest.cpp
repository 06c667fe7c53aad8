// The backup engine where things go wrong: a server that leaves a message
// out, a full disk, a read-only vault.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "BackupTestSupport.h"
#include "Engines/BackupRunner.h"
#include "Engines/FriendlyError.h"
#include "Imap/IMAPError.h"
#include "Util/AtomicFile.h"
#include "Util/Json.h"
#include "support/FakeIMAPServer.h"
#include "support/TestCerts.h"

namespace fs = std::filesystem;
using namespace bx;
using namespace bx::test;

namespace {

std::string fetchReply(std::uint32_t seq, std::uint32_t uid, const std::string& body, bool withBody) {
    std::string r = "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) + " RFC822.SIZE " +
                    std::to_string(body.size()) + " INTERNALDATE \"07-Mar-2024 09:15:02 +0000\" FLAGS (\\Seen)";
    if (withBody) r += " BODY[] {" + std::to_string(body.size()) + "}\r\n" + body;
    return r + ")\r\n";
}

// One folder from its EXAMINE to its bodies.
FakeIMAPServer& scriptFolder(FakeIMAPServer& fake, const std::string& searchFrom, const std::string& searchReply,
                             const std::string& set, const std::string& metaReplies, const std::string& bodyReplies) {
    return fake.expect("{tag} EXAMINE *")
        .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
        .expect("{tag} UID SEARCH UID " + searchFrom + ":*")
        .send("* SEARCH " + searchReply + "\r\n{tag} OK searched\r\n")
        .expect("{tag} UID FETCH " + set + " (UID RFC822.SIZE INTERNALDATE FLAGS)")
        .send(metaReplies + "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH " + set + " (UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[])")
        .send(bodyReplies + "{tag} OK fetched\r\n");
}

void scriptSession(FakeIMAPServer& fake, const std::string& searchFrom, const std::string& searchReply,
                   const std::string& set, const std::string& metaReplies, const std::string& bodyReplies) {
    scriptSignInAndList(fake);
    scriptFolder(fake, searchFrom, searchReply, set, metaReplies, bodyReplies)
        .expect("{tag} LOGOUT")
        .send("* BYE bye\r\n{tag} OK logged out\r\n");
}

MailAccount fakeAccount(const FakeIMAPServer& fake) {
    return MailAccount(UUID::random(), "Fake", "alice", IMAPServer("127.0.0.1", fake.port(), true), "custom",
                       {"INBOX"}, {});
}

// A tmpfs mounted over a folder of the test's temp dir, unmounted at the end.
// Tests that need one skip when mounting is not permitted.
class TmpfsMount {
public:
    TmpfsMount(const fs::path& where, const std::string& size) : where_(where) {
        fs::create_directories(where);
        const std::string options = "size=" + size + ",mode=0755";
        mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) why_ = std::strerror(errno);
    }
    ~TmpfsMount() {
        if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    bool remountReadOnly() {
        return ::mount("tmpfs", where_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    fs::path where_;
    bool mounted_ = false;
    std::string why_;
};

// Everything that names a message in the vault is whole: each .eml equals a
// message the server holds, no temp files lie around, and the sync file
// decodes and lists only files that exist.
void expectNothingHalfWritten(const fs::path& root, const ArchiveLayout& layout, const MailAccount& account,
                              const std::set<std::string>& serverMessages) {
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        const auto rel = fs::relative(e.path(), root).generic_string();
        if (rel.rfind(".brindlebox/", 0) == 0) {
            EXPECT_TRUE(rel.find(".tmp") == std::string::npos) << rel;
            continue;
        }
        ASSERT_EQ(e.path().extension(), ".eml") << rel;
        EXPECT_TRUE(serverMessages.count(*readFile(e.path()))) << rel << " is not a whole message";
    }
    if (fs::exists(layout.syncURL(account))) {
        EXPECT_NO_THROW(AccountSyncState::fromJSON(*readFile(layout.syncURL(account))));
        for (const auto& [name, state] : layout.loadSync(account).folders)
            for (const auto& [uid, path] : state.files) EXPECT_TRUE(fs::exists(layout.url(path))) << path;
    }
}

}  // namespace

// The server leaves UID 2 out of the body reply. The run counts it, does not
// record the mailbox as done past it, and the next run fetches exactly it.
TEST(BackupFaults, MessageLeftOutByTheServerIsFetchedNextRun) {
    const std::string m1 = makeMessage("one"), m2 = makeMessage("two"), m3 = makeMessage("three");
    FakeIMAPServer fake;
    scriptSession(fake, "1", "1 2 3", "1:3",
                  fetchReply(1, 1, m1, false) + fetchReply(2, 2, m2, false) + fetchReply(3, 3, m3, false),
                  fetchReply(1, 1, m1, true) + fetchReply(3, 3, m3, true));
    fake.acceptNext();
    // The second time the server even sends it twice; it is recorded once.
    scriptSession(fake, "2", "2 3", "2", fetchReply(2, 2, m2, false),
                  fetchReply(2, 2, m2, true) + fetchReply(2, 2, m2, true));
    fake.start();

    TempDir vault;
    const MailAccount account(UUID::random(), "Fake", "alice", IMAPServer("127.0.0.1", fake.port(), true), "custom",
                              {"INBOX"}, {});
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, "secret");

    const auto first = runner.run();
    EXPECT_EQ(first.newMessages, 2);
    EXPECT_EQ(first.missing, 1);
    auto state = layout.loadSync(account).folders.at("INBOX");
    EXPECT_EQ(state.highestUID, 1u);
    EXPECT_EQ(state.files.size(), 2u);
    EXPECT_EQ(state.files.count("2"), 0u);

    const auto second = runner.run();
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
    EXPECT_EQ(second.missing, 0);
    state = layout.loadSync(account).folders.at("INBOX");
    EXPECT_EQ(state.highestUID, 3u);
    ASSERT_EQ(state.files.size(), 3u);
    EXPECT_EQ(vault.read(state.files.at("2")), m2);
    // Once in "files" and once in "sizes", not twice in either.
    const std::string text = vault.read(layout.syncURL(account));
    size_t members = 0;
    for (size_t at = text.find("\"2\":"); at != std::string::npos; at = text.find("\"2\":", at + 1)) ++members;
    EXPECT_EQ(members, 2u) << text;
    EXPECT_EQ(snapshot(vault.path()).size(), 3u);
}

// After an error the run just closes the connection: no LOGOUT.
TEST(BackupFaults, ErrorEndsTheRunWithoutLogout) {
    FakeIMAPServer fake;
    scriptSignInAndList(fake)
        .expect("{tag} EXAMINE *")
        .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
        .expect("{tag} UID SEARCH UID 1:*")
        .send("{tag} NO [LIMIT] too many searches\r\n")
        .expectClose();
    fake.start();
    TempDir vault;
    const MailAccount account(UUID::random(), "Fake", "alice", IMAPServer("127.0.0.1", fake.port(), true), "custom",
                              {"INBOX"}, {});
    BackupRunner runner(ArchiveLayout(vault.path()), account, "secret");
    std::vector<std::string> phases;
    try {
        runner.run([&](const BackupProgress& p) { phases.push_back(p.phase); });
        FAIL() << "expected the refusal";
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.command(), "UID SEARCH");
        EXPECT_EQ(FriendlyError::describe(e, "127.0.0.1").title, "The server asked us to slow down");
    }
    EXPECT_EQ(phases, std::vector<std::string>{"Checking"});
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
    EXPECT_EQ(fake.received().find("LOGOUT"), std::string::npos);
}

// A folder the server will not open is that folder's failure: it is
// reported, and the folders after it are still backed up.
TEST(BackupFaults, RefusedFolderIsReportedAndTheOthersBackedUp) {
    const std::string m1 = "Subject: one\r\n\r\nHello.\r\n";
    FakeIMAPServer fake;
    fake.send("* OK [CAPABILITY IMAP4rev1] fake ready\r\n")
        .expect("{tag} LOGIN *")
        .send("{tag} OK logged in\r\n")
        .expect("{tag} LIST \"\" \"*\"")
        .send("* LIST (\\HasNoChildren) \"/\" Private\r\n* LIST (\\HasNoChildren) \"/\" INBOX\r\n{tag} OK listed\r\n")
        .expect("{tag} EXAMINE \"Private\"")
        .send("{tag} NO [NOPERM] Permission denied\r\n");
    scriptFolder(fake, "1", "1", "1", fetchReply(1, 1, m1, false), fetchReply(1, 1, m1, true))
        .expect("{tag} LOGOUT")
        .send("* BYE bye\r\n{tag} OK logged out\r\n");
    fake.start();
    TempDir vault;
    MailAccount account = fakeAccount(fake);
    account.folders = {"Private", "INBOX"};
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, "secret");
    BackupProgress done;
    const BackupSummary summary = runner.run([&](const BackupProgress& p) { done = p; });
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();

    EXPECT_EQ(summary.newMessages, 1);
    EXPECT_EQ(summary.folders, 1);
    ASSERT_EQ(summary.refused.size(), 1u);
    EXPECT_EQ(summary.refused[0].mailbox, "Private");
    EXPECT_EQ(summary.refused[0].folder, "Private");
    EXPECT_EQ(summary.refused[0].title, "The server said no");
    EXPECT_EQ(done.completed, (std::map<std::string, std::int64_t>{{"INBOX", 1}}));
    // No state for the folder that was never opened.
    const auto sync = layout.loadSync(account);
    EXPECT_EQ(sync.folders.count("Private"), 0u);
    EXPECT_EQ(sync.folders.at("INBOX").highestUID, 1u);

    const auto problem = FriendlyError::describe(summary);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->title, "The server said no");
    EXPECT_EQ(problem->advice,
              "\u201CPrivate\u201D wasn\u2019t backed up. EXAMINE was refused: Permission denied. "
              "Everything else was backed up.");
    EXPECT_FALSE(FriendlyError::describe(BackupSummary()));
}

// A message announced larger than a reply can be received is left on the
// server and named by folder and subject; the rest of its folder is backed
// up, and the mark stays below it so a later run finds it again.
TEST(BackupFaults, MessageOverTheLiteralLimitIsSkippedAndNamed) {
    const std::string m1 = "Subject: one\r\n\r\nHello.\r\n";
    const std::string m3 = "Subject: three\r\n\r\nHello again.\r\n";
    const std::string header = "Subject: =?utf-8?q?Holiday_video?=\r\nFrom: a@b\r\n\r\n";
    const std::string huge = "* 2 FETCH (UID 2 RFC822.SIZE 600000000 INTERNALDATE \"07-Mar-2024 09:15:02 +0000\" "
                             "FLAGS (\\Seen))\r\n";
    FakeIMAPServer fake;
    scriptSignInAndList(fake)
        .expect("{tag} EXAMINE \"INBOX\"")
        .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
        .expect("{tag} UID SEARCH UID 1:*")
        .send("* SEARCH 1 2 3\r\n{tag} OK searched\r\n")
        .expect("{tag} UID FETCH 1:3 (UID RFC822.SIZE INTERNALDATE FLAGS)")
        .send(fetchReply(1, 1, m1, false) + huge + fetchReply(3, 3, m3, false) + "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 2 (UID BODY.PEEK[HEADER])")
        .send("* 2 FETCH (UID 2 BODY[HEADER] {" + std::to_string(header.size()) + "}\r\n" + header +
              ")\r\n{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 1,3 (UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[])")
        .send(fetchReply(1, 1, m1, true) + fetchReply(3, 3, m3, true) + "{tag} OK fetched\r\n")
        .expect("{tag} LOGOUT")
        .send("* BYE bye\r\n{tag} OK logged out\r\n");
    fake.start();
    TempDir vault;
    const MailAccount account = fakeAccount(fake);
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, "secret");
    std::int64_t total = -1, bytesTotal = -1;
    const BackupSummary summary = runner.run([&](const BackupProgress& p) {
        if (p.phase == "Downloading" && p.newFiles.empty()) {
            total = p.messagesTotal;
            bytesTotal = p.bytesTotal;
        }
    });
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();

    EXPECT_EQ(summary.newMessages, 2);
    EXPECT_EQ(total, 2);
    EXPECT_EQ(bytesTotal, static_cast<std::int64_t>(m1.size() + m3.size()));
    ASSERT_EQ(summary.skipped.size(), 1u);
    const SkippedMessage& skipped = summary.skipped[0];
    EXPECT_EQ(skipped.mailbox, "INBOX");
    EXPECT_EQ(skipped.subject, "Holiday video");
    EXPECT_EQ(skipped.uid, 2u);
    EXPECT_EQ(skipped.size, 600000000);
    const auto state = layout.loadSync(account).folders.at("INBOX");
    EXPECT_EQ(state.highestUID, 1u);
    EXPECT_EQ(state.files.size(), 2u);
    EXPECT_EQ(state.files.count("2"), 0u);

    const auto problem = FriendlyError::describe(summary);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->title, "A message is too large to back up");
    EXPECT_EQ(problem->advice, "\u201CHoliday video\u201D in " + skipped.folder +
                                   " is 600 MB; messages over 512 MB stay on the server. Everything else was "
                                   "backed up.");
}

TEST(BackupFaults, FullDiskGivesAClearErrorAndNothingHalfWritten) {
    trustTestCA();
    TempDir dir;
    TmpfsMount disk(dir / "vault", "600k");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here: " << disk.why();
    DovecotFixture dovecot;
    const auto seed = makeSeed(40, 0, 1, 40000);  // 40 messages of about 40 KB: 1.6 MB
    dovecot.append(users::alice, "INBOX", seed);
    std::set<std::string> onServer;
    {
        auto s = dovecot.session(users::alice);
        for (auto uid : s.uids("INBOX")) onServer.insert(s.fetchRaw("INBOX", uid));
    }
    const auto account = testAccount(dovecot, {"INBOX"});
    ArchiveLayout layout(dir / "vault");
    BackupRunner runner(layout, account, users::alice.password);
    runner.batchCount = 5;
    try {
        runner.run();
        FAIL() << "expected the disk to fill up";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOSPC) << e.what();
        const auto m = FriendlyError::describe(e, "localhost");
        EXPECT_EQ(m.title, "Your disk is full");
    }
    expectNothingHalfWritten(dir / "vault", layout, account, onServer);
    EXPECT_FALSE(layout.loadSync(account).folders.empty());  // earlier batches stay recorded
}

TEST(BackupFaults, ReadOnlyVaultGivesAClearErrorAndIsLeftAlone) {
    trustTestCA();
    TempDir dir;
    TmpfsMount disk(dir / "vault", "8m");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.why();
    DovecotFixture dovecot;
    dovecot.append(users::alice, "INBOX", makeSeed(5));
    const auto account = testAccount(dovecot, {"INBOX"});
    ArchiveLayout layout(dir / "vault");
    BackupRunner runner(layout, account, users::alice.password);
    EXPECT_EQ(runner.run().newMessages, 5);
    const auto before = snapshot(dir / "vault");
    const auto syncBefore = readFile(layout.syncURL(account));

    ASSERT_TRUE(disk.remountReadOnly()) << std::strerror(errno);
    dovecot.append(users::alice, "INBOX", makeSeed(3, 5));
    try {
        runner.run();
        FAIL() << "expected a refusal to write";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EROFS) << e.what();
        EXPECT_EQ(FriendlyError::describe(e, std::nullopt).title, "Brindlebox can\u2019t write to the vault folder");
    }
    EXPECT_EQ(snapshot(dir / "vault"), before);
    EXPECT_EQ(readFile(layout.syncURL(account)), syncBefore);
}

namespace {

std::string fetchReplySized(std::uint32_t seq, std::uint32_t uid, const std::string& announced,
                            const std::string* body) {
    std::string r = "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) + " RFC822.SIZE " + announced +
                    " INTERNALDATE \"07-Mar-2024 09:15:02 +0000\" FLAGS (\\Seen)";
    if (body) r += " BODY[] {" + std::to_string(body->size()) + "}\r\n" + *body;
    return r + ")\r\n";
}

// Every .eml below the vault, by path, with its bytes.
std::map<std::string, std::string> storedFiles(const TempDir& vault) {
    std::map<std::string, std::string> out;
    for (const auto& [path, facts] : snapshot(vault.path())) out[path] = vault.read(path);
    return out;
}

}  // namespace

// FETCH replies the server volunteers are not taken: neither a UID that was
// not asked for (it would stand for a message never fetched) nor a second body
// for one that was (it is not a new message to file as " (2)").
TEST(BackupFaults, OnlyTheRequestedUIDsAreStoredEachOnce) {
    const std::string m1 = makeMessage("one"), m2 = makeMessage("two"), m3 = makeMessage("three");
    const std::string planted = makeMessage("planted"), other = makeMessage("other body for one");
    FakeIMAPServer fake;
    scriptSession(fake, "1", "1 2", "1:2",
                  fetchReply(1, 1, m1, false) + fetchReply(3, 3, planted, false) + fetchReply(2, 2, m2, false),
                  fetchReply(1, 1, m1, true) + fetchReply(3, 3, planted, true) + fetchReply(1, 1, other, true) +
                      fetchReply(2, 2, m2, true));
    fake.acceptNext();
    scriptSession(fake, "3", "3", "3", fetchReply(3, 3, m3, false), fetchReply(3, 3, m3, true));
    fake.start();

    TempDir vault;
    const auto account = fakeAccount(fake);
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, "secret");
    std::int64_t bytesTotal = -1;
    const auto first = runner.run([&](const BackupProgress& p) {
        if (p.phase == "Downloading") bytesTotal = p.bytesTotal;
    });
    EXPECT_EQ(first.newMessages, 2);
    EXPECT_EQ(first.missing, 0);
    EXPECT_EQ(bytesTotal, static_cast<std::int64_t>(m1.size() + m2.size()));
    auto state = layout.loadSync(account).folders.at("INBOX");
    EXPECT_EQ(state.files.size(), 2u);
    EXPECT_EQ(state.highestUID, 2u);
    EXPECT_EQ(vault.read(state.files.at("1")), m1);

    const auto second = runner.run();
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
    EXPECT_EQ(second.newMessages, 1);
    state = layout.loadSync(account).folders.at("INBOX");
    EXPECT_EQ(vault.read(state.files.at("3")), m3);
    std::set<std::string> bodies;
    for (const auto& [path, bytes] : storedFiles(vault)) bodies.insert(bytes);
    EXPECT_EQ(bodies, (std::set<std::string>{m1, m2, m3}));
}

// Numbers from the server: a SEARCH that names UIDs twice, and a size near
// 2^63 that would overflow the sums.
TEST(BackupFaults, DuplicateSearchAnswersAndHugeSizes) {
    const std::string m1 = makeMessage("one");
    FakeIMAPServer fake;
    scriptSignInAndList(fake)
        .expect("{tag} EXAMINE *")
        .send("* 2 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
        .expect("{tag} UID SEARCH UID 1:*")
        .send("* SEARCH 2 1 2 1\r\n{tag} OK searched\r\n")
        .expect("{tag} UID FETCH 1:2 (UID RFC822.SIZE INTERNALDATE FLAGS)")
        .send(fetchReplySized(1, 1, std::to_string(m1.size()), nullptr) +
              fetchReplySized(2, 2, "9223372036854775806", nullptr) + "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 2 (UID BODY.PEEK[HEADER])")
        .send("{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 1 (UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[])")
        .send(fetchReplySized(1, 1, std::to_string(m1.size()), &m1) + "{tag} OK fetched\r\n")
        .expect("{tag} LOGOUT")
        .send("* BYE bye\r\n{tag} OK logged out\r\n");
    fake.start();

    TempDir vault;
    BackupRunner runner(ArchiveLayout(vault.path()), fakeAccount(fake), "secret");
    BackupProgress downloading;
    const auto summary = runner.run([&](const BackupProgress& p) {
        if (p.phase == "Downloading" && p.messagesDone == 0) downloading = p;
    });
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
    EXPECT_EQ(downloading.messagesTotal, 1);
    EXPECT_EQ(downloading.bytesTotal, static_cast<std::int64_t>(m1.size()));
    EXPECT_EQ(summary.newMessages, 1);
    EXPECT_EQ(summary.missing, 0);
    ASSERT_EQ(summary.skipped.size(), 1u);  // named once, without a subject the server did not send
    EXPECT_EQ(summary.skipped[0].size, 9223372036854775806);
    EXPECT_EQ(summary.skipped[0].subject, "");
}

// A folder whose mark is the largest UID there is has nothing newer: no
// "UID SEARCH UID 0:*" that servers refuse, and the run goes on.
TEST(BackupFaults, FolderAtTheTopUIDAsksForNothing) {
    FakeIMAPServer fake;
    scriptSignInAndList(fake)
        .expect("{tag} EXAMINE *")
        .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
        .expect("{tag} LOGOUT")
        .send("* BYE bye\r\n{tag} OK logged out\r\n");
    fake.start();

    TempDir vault;
    const auto account = fakeAccount(fake);
    ArchiveLayout layout(vault.path());
    AccountSyncState sync;
    FolderState top("INBOX", "Fake/INBOX", 5);
    top.highestUID = 4294967295u;
    top.files["4294967295"] = "Fake/INBOX/2024/2024-03-07 last 4294967295.eml";
    sync.folders["INBOX"] = top;
    layout.saveSync(sync, account);

    const auto summary = BackupRunner(layout, account, "secret").run();
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
    EXPECT_EQ(summary.folders, 1);
    EXPECT_EQ(layout.loadSync(account).folders.at("INBOX").highestUID, 4294967295u);
}

// A server that understates sizes cannot make a batch hold more than the
// batch's byte bound: what came is written out while the reply goes on. Here
// the reply breaks after the first message; that one is on disk already, and
// the next run stores each message once.
TEST(BackupFaults, UnderstatedSizesDoNotGrowTheBatch) {
    const std::string pad(4000, 'x');
    const std::string m1 = makeMessage("one", pad + "\r\n"), m2 = makeMessage("two", pad + "\r\n"),
                      m3 = makeMessage("three", pad + "\r\n");
    auto session = [&](FakeIMAPServer& fake, bool breakAfterFirst) {
        auto& s = scriptSignInAndList(fake)
                      .expect("{tag} EXAMINE *")
                      .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
                      .expect("{tag} UID SEARCH UID 1:*")
                      .send("* SEARCH 1 2 3\r\n{tag} OK searched\r\n")
                      .expect("{tag} UID FETCH 1:3 (UID RFC822.SIZE INTERNALDATE FLAGS)")
                      .send(fetchReplySized(1, 1, "130", nullptr) + fetchReplySized(2, 2, "130", nullptr) +
                            fetchReplySized(3, 3, "130", nullptr) + "{tag} OK fetched\r\n")
                      .expect("{tag} UID FETCH 1:3 (UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[])");
        if (breakAfterFirst) {
            s.send(fetchReplySized(1, 1, "130", &m1)).stall(std::chrono::milliseconds(200)).drop();
            return;
        }
        s.send(fetchReplySized(1, 1, "130", &m1) + fetchReplySized(2, 2, "130", &m2) +
               fetchReplySized(3, 3, "130", &m3) + "{tag} OK fetched\r\n")
            .expect("{tag} LOGOUT")
            .send("* BYE bye\r\n{tag} OK logged out\r\n");
    };
    FakeIMAPServer fake;
    session(fake, true);
    fake.acceptNext();
    session(fake, false);
    fake.start();

    TempDir vault;
    const auto account = fakeAccount(fake);
    ArchiveLayout layout(vault.path());
    BackupRunner runner(layout, account, "secret");
    runner.batchBytes = 1000;  // all three fit by the announced sizes
    EXPECT_THROW(runner.run(), IMAPError);
    const auto afterBreak = storedFiles(vault);
    ASSERT_EQ(afterBreak.size(), 1u);
    EXPECT_EQ(afterBreak.begin()->second, m1);
    EXPECT_TRUE(layout.loadSync(account).folders.empty() ||
                layout.loadSync(account).folders.at("INBOX").files.empty());

    const auto summary = runner.run();
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
    EXPECT_EQ(summary.newMessages, 3);
    const auto files = storedFiles(vault);
    EXPECT_EQ(files.size(), 3u);
    EXPECT_EQ(files.count(layout.loadSync(account).folders.at("INBOX").files.at("1")), 1u);
}

// A mail folder that is a link to somewhere else: after a renumbering the
// identical file behind the link is not taken as the stored copy, and nothing
// is written through the link; the run fails naming the folder.
TEST(BackupFaults, LinkedMailFolderIsNeitherReusedNorWrittenThrough) {
    const std::string m1 = makeMessage("one");
    FakeIMAPServer fake;
    scriptSignInAndList(fake)
        .expect("{tag} EXAMINE *")
        .send("* 1 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n{tag} OK [READ-ONLY] examined\r\n")
        .expect("{tag} UID SEARCH UID 1:*")
        .send("* SEARCH 1\r\n{tag} OK searched\r\n")
        .expect("{tag} UID FETCH 1 (UID RFC822.SIZE INTERNALDATE FLAGS)")
        .send(fetchReply(1, 1, m1, false) + "{tag} OK fetched\r\n")
        .expect("{tag} UID FETCH 1 (UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[])")
        .send(fetchReply(1, 1, m1, true) + "{tag} OK fetched\r\n")
        .expectClose();
    fake.start();

    TempDir dir;
    dir.write("outside/2024/2024-03-07 one 9.eml", m1);
    fs::create_directories(dir / "vault/Fake");
    fs::create_directory_symlink(dir / "outside", dir / "vault/Fake/INBOX");
    const auto account = fakeAccount(fake);
    ArchiveLayout layout(dir / "vault");
    AccountSyncState sync;
    FolderState old("INBOX", "Fake/INBOX", 4);
    old.highestUID = 9;
    old.files["9"] = "Fake/INBOX/2024/2024-03-07 one 9.eml";
    sync.folders["INBOX"] = old;
    layout.saveSync(sync, account);

    try {
        BackupRunner(layout, account, "secret").run();
        FAIL() << "expected the linked folder to be refused";
    } catch (const std::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("Fake/INBOX"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
    const auto state = layout.loadSync(account).folders.at("INBOX");
    EXPECT_EQ(state.files.count("1"), 0u);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir / "outside"), fs::recursive_directory_iterator()), 2);
}
