// The free-up engine against a real Dovecot: survey, release, and the faults a
// release must survive. Faults Dovecot cannot produce on its own (a refused
// STORE, a connection that drops right after EXPUNGE, a READ-ONLY answer) are
// injected by the fault proxy between the engine and the real server, so the
// server's state afterwards is still the real thing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <stop_token>
#include <thread>

#include "Engines/BackupRunner.h"
#include "Engines/Cleaner.h"
#include "Engines/ReleaseJournal.h"
#include "Imap/CancellationError.h"
#include "Imap/IMAPError.h"
#include "Util/AtomicFile.h"
#include "Vault/MessageDigests.h"
#include "support/DovecotFixture.h"
#include "support/FaultProxy.h"
#include "support/TempDir.h"

namespace bx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using S = CleanupItem::Status;
using Clock = std::chrono::system_clock;
using test::FaultProxy;

bool startsWith(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

// ------------------------------------------------------------ set-up

Date daysAgo(int days) { return Clock::now() - std::chrono::hours(24) * days; }

struct Seed {
    int ageDays;
    std::vector<std::string> flags = {};
    std::size_t bodyLines = 3;
};

// A Dovecot account, a vault, and the engine's account record for both.
class FreeUp {
public:
    explicit FreeUp(test::DovecotOptions options = {}) : dovecot(std::move(options)), layout(vault.path()) {
        account.id = UUID::random();
        account.label = "Work";
        account.username = test::users::alice.name;
        account.server = IMAPServer("127.0.0.1", dovecot.imapPort(), true);
        account.knownFolders = {IMAPMailbox("INBOX", "Inbox", std::string("/"))};
    }

    // Appends one message per seed (distinct subjects and sizes); returns the UIDs.
    std::vector<std::uint32_t> seed(const std::vector<Seed>& seeds) {
        std::vector<test::SeedMessage> messages;
        for (const auto& s : seeds) {
            std::string body;
            for (std::size_t i = 0; i < s.bodyLines + counter_ % 7; ++i) body += "Line " + std::to_string(i) + "\r\n";
            std::string subject = "Message " + std::to_string(counter_++);
            messages.push_back({test::makeMessage(subject, body, "Ann <ann@example.com>", "bob@example.com",
                                                  {"Message-ID: <" + subject.substr(8) + "@example.com>"}),
                                Clock::time_point(std::chrono::floor<std::chrono::seconds>(daysAgo(s.ageDays))),
                                s.flags});
        }
        return dovecot.append(test::users::alice, mailbox, messages);
    }

    std::vector<std::uint32_t> seedAges(const std::vector<int>& ages) {
        std::vector<Seed> seeds;
        for (int a : ages) seeds.push_back({a});
        return seed(seeds);
    }

    std::string relativePath(std::uint32_t uid) const {
        return "Work/INBOX/2020/2020-01-01 Message " + std::to_string(uid) + ".eml";
    }

    // What the backup leaves behind: each message's exact bytes in the vault
    // and its path in the sync state.
    void backUp(const std::vector<std::uint32_t>& uids, bool record = true) {
        auto session = dovecot.session(test::users::alice);
        AccountSyncState state = layout.loadSync(account);
        auto& folder = state.folders[mailbox];
        folder.mailbox = mailbox;
        folder.directory = "Work/INBOX";
        folder.uidValidity = dovecot.uidValidity(test::users::alice, mailbox);
        for (auto uid : uids) {
            const std::string bytes = session.fetchRaw(mailbox, uid);
            vault.write(relativePath(uid), bytes);
            if (record) folder.files[std::to_string(uid)] = relativePath(uid);
            folder.highestUID = std::max(folder.highestUID, uid);
        }
        layout.saveSync(state, account);
    }

    fs::path file(std::uint32_t uid) const { return vault / relativePath(uid); }

    Cleaner cleaner(std::uint16_t port = 0) const {
        MailAccount a = account;
        if (port) a.server.port = port;
        Cleaner c(layout, a, test::users::alice.password);
        c.timeout = 10;
        return c;
    }

    std::vector<std::uint32_t> serverUIDs() const { return dovecot.uids(test::users::alice, mailbox); }

    std::vector<std::uint32_t> flaggedDeleted() const {
        auto session = dovecot.session(test::users::alice);
        session.examine(mailbox);
        auto reply = session.check("UID SEARCH DELETED");
        std::vector<std::uint32_t> out;
        for (const auto& line : reply.find("SEARCH")) {
            std::istringstream in(line.substr(8));
            std::uint32_t uid;
            while (in >> uid) out.push_back(uid);
        }
        return out;
    }

    std::map<std::uint32_t, std::string> serverBytes() const {
        std::map<std::uint32_t, std::string> out;
        auto session = dovecot.session(test::users::alice);
        for (auto uid : session.uids(mailbox)) out[uid] = session.fetchRaw(mailbox, uid);
        return out;
    }

    test::DovecotFixture dovecot;
    test::TempDir vault;
    ArchiveLayout layout;
    MailAccount account;
    std::string mailbox = "INBOX";

private:
    int counter_ = 0;
};

std::vector<std::uint32_t> itemUIDs(const std::vector<CleanupItem>& items) {
    std::vector<std::uint32_t> out;
    for (const auto& i : items) out.push_back(i.uid);
    return out;
}

std::vector<std::uint32_t> minus(std::vector<std::uint32_t> all, const std::vector<std::uint32_t>& gone) {
    std::set<std::uint32_t> g(gone.begin(), gone.end());
    std::erase_if(all, [&](std::uint32_t u) { return g.count(u) > 0; });
    return all;
}

template <class F>
CleanupError expectCleanupError(F&& f) {
    try {
        f();
    } catch (const CleanupError& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected error: " << e.what();
        throw;
    }
    ADD_FAILURE() << "no error";
    throw std::runtime_error("no error");
}

// ------------------------------------------------------------ survey

TEST(CleanerSurvey, ListsOldMessagesWithTheirLocalCopies) {
    FreeUp f;
    auto uids = f.seed({{3000}, {1000, {"\\Deleted"}}, {900}, {100}, {10, {"\\Deleted"}}, {5}});
    f.backUp({uids[0], uids[2], uids[3]});

    CleanupPlan plan = f.cleaner().survey("INBOX", daysAgo(730));
    EXPECT_EQ(plan.mailbox, "INBOX");
    EXPECT_EQ(plan.displayName, "Inbox");
    EXPECT_EQ(plan.uidValidity, f.dovecot.uidValidity(test::users::alice, "INBOX"));
    EXPECT_TRUE(plan.serverSupportsUIDPlus);
    // The old \Deleted message is surveyed, not counted among the others.
    EXPECT_EQ(plan.otherDeletedOnServer, 1);
    ASSERT_EQ(itemUIDs(plan.items), (std::vector<std::uint32_t>{uids[0], uids[1], uids[2]}));
    for (const auto& item : plan.items) {
        EXPECT_EQ(item.status, S::pending());
        EXPECT_EQ(item.serverSize, static_cast<std::int64_t>(f.dovecot.fetchRaw(test::users::alice, "INBOX", item.uid).size()));
        ASSERT_TRUE(item.date);
        EXPECT_LT(*item.date, daysAgo(730));
    }
    EXPECT_EQ(plan.items[0].localPath, f.relativePath(uids[0]));
    EXPECT_EQ(plan.items[1].localPath, std::nullopt);
    EXPECT_EQ(plan.items[2].localPath, f.relativePath(uids[2]));
    // The survey changed nothing.
    EXPECT_EQ(f.flaggedDeleted(), (std::vector<std::uint32_t>{uids[1], uids[4]}));

    CleanupPlan checked = f.cleaner().plan("INBOX", daysAgo(730));
    EXPECT_EQ(checked.items[0].status, S::verified());
    EXPECT_EQ(checked.items[1].status, S::notBackedUp());
    EXPECT_EQ(checked.items[2].status, S::verified());
}

TEST(CleanerSurvey, NothingOldAndAnUnknownFolderName) {
    FreeUp f;
    f.seed({{10, {"\\Deleted"}}, {5, {"\\Deleted"}}, {1}});
    f.account.knownFolders.clear();
    CleanupPlan plan = f.cleaner().survey("INBOX", daysAgo(730));
    EXPECT_TRUE(plan.items.empty());
    EXPECT_EQ(plan.otherDeletedOnServer, 2);
    EXPECT_EQ(plan.displayName, "INBOX");
}

TEST(CleanerSurvey, RenumberedFolderHasNoLocalCopies) {
    FreeUp f;
    auto uids = f.seedAges({1000, 900});
    f.backUp(uids);
    AccountSyncState state = f.layout.loadSync(f.account);
    state.folders["INBOX"].uidValidity += 1;
    f.layout.saveSync(state, f.account);

    CleanupPlan plan = f.cleaner().plan("INBOX", daysAgo(730));
    ASSERT_EQ(plan.items.size(), 2u);
    for (const auto& item : plan.items) {
        EXPECT_EQ(item.localPath, std::nullopt);
        EXPECT_EQ(item.status, S::notBackedUp());
    }
}

// A file found only by the UID in its name counts only when it holds the
// server's message: after a renumbering old files keep their old UIDs, and
// two mailboxes may share one folder.
TEST(CleanerSurvey, FileNameMatchesNeedTheServersHeader) {
    FreeUp f;
    auto uids = f.seedAges({1000, 900, 800});
    f.backUp({uids[0]});                    // recorded
    f.backUp({uids[1], uids[2]}, false);    // on disk, not in the sync state
    // uids[2]'s file is replaced by a different message of exactly the same size.
    std::string other = f.dovecot.fetchRaw(test::users::alice, "INBOX", uids[2]);
    auto at = other.find("Message ");
    ASSERT_NE(at, std::string::npos);
    other[at + 8] = other[at + 8] == '9' ? '8' : '9';
    fs::remove(f.file(uids[2]));
    f.vault.write(f.relativePath(uids[2]), other);
    ASSERT_EQ(Cleaner::verify(f.file(uids[2]), static_cast<std::int64_t>(other.size())), S::verified());

    CleanupPlan plan = f.cleaner().plan("INBOX", daysAgo(730));
    ASSERT_EQ(plan.items.size(), 3u);
    EXPECT_EQ(plan.items[0].localPath, f.relativePath(uids[0]));
    EXPECT_EQ(plan.items[1].localPath, f.relativePath(uids[1]));
    EXPECT_EQ(plan.items[1].status, S::verified());
    EXPECT_EQ(plan.items[2].localPath, std::nullopt);
    EXPECT_EQ(plan.items[2].status, S::notBackedUp());
}

TEST(CleanerSurvey, StopBeforeTheMetadataFetch) {
    FreeUp f;
    f.seedAges({1000});
    std::stop_source stop;
    FaultProxy proxy(f.dovecot.imapPort(), [&](const std::string& line) {
        if (startsWith(line, "UID SEARCH DELETED")) stop.request_stop();
        return FaultProxy::Decision{};
    });
    EXPECT_THROW(f.cleaner(proxy.port()).survey("INBOX", daysAgo(730), stop.get_token()), CancellationError);
    for (const auto& c : proxy.commands()) {
        EXPECT_FALSE(startsWith(c, "UID FETCH")) << c;
        EXPECT_NE(c, "LOGOUT");
    }
}

// ------------------------------------------------------------ release

TEST(CleanerRelease, ReleasesExactlyTheVerifiedOldMessagesOverTLS) {
    FreeUp f;
    test::trustTestCA();
    f.account.server = IMAPServer("localhost", f.dovecot.imapsPort(), false);
    // Two messages per year of age, 0 to 6 years.
    std::vector<int> ages;
    for (int year = 0; year <= 6; ++year) {
        ages.push_back(year * 365 + 20);
        ages.push_back(year * 365 + 200);
    }
    auto uids = f.seedAges(ages);
    BackupRunner backup(f.layout, f.account, test::users::alice.password);
    EXPECT_EQ(backup.run().newMessages, static_cast<std::int64_t>(uids.size()));
    const auto before = f.serverBytes();

    Cleaner cleaner = f.cleaner();
    CleanupPlan plan = cleaner.plan("INBOX", daysAgo(730));
    std::vector<std::uint32_t> old;
    for (std::size_t i = 0; i < ages.size(); ++i)
        if (ages[i] > 730) old.push_back(uids[i]);
    ASSERT_EQ(itemUIDs(plan.items), old);
    ASSERT_EQ(plan.verified().size(), old.size());

    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
    const auto released = cleaner.execute(plan, [&](std::int64_t r, std::int64_t t) { calls.emplace_back(r, t); });
    EXPECT_EQ(released, static_cast<std::int64_t>(old.size()));
    EXPECT_EQ(calls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, old.size()}, {old.size(), old.size()}}));

    const auto after = f.serverBytes();
    std::vector<std::uint32_t> left;
    for (const auto& [uid, bytes] : after) {
        left.push_back(uid);
        EXPECT_EQ(bytes, before.at(uid)) << uid;
    }
    EXPECT_EQ(left, minus(uids, old));
    EXPECT_TRUE(f.flaggedDeleted().empty());
    // The vault keeps every copy.
    for (const auto& item : plan.items) EXPECT_TRUE(fs::exists(f.layout.url(*item.localPath)));
}

TEST(CleanerRelease, AnyDoubtKeepsTheMessage) {
    FreeUp f;
    auto uids = f.seedAges({2000, 1990, 1980, 1970, 1960, 1950, 1940});
    f.backUp(uids);
    const auto before = f.serverBytes();
    Cleaner cleaner = f.cleaner();
    CleanupPlan plan = cleaner.plan("INBOX", daysAgo(730));
    ASSERT_EQ(plan.verified().size(), uids.size());

    auto size = [&](std::uint32_t uid) { return static_cast<std::int64_t>(before.at(uid).size()); };
    // Doubts the check shows the user.
    writeFileAtomically(f.file(uids[0]), before.at(uids[0]).substr(1));              // one byte short
    fs::remove(f.file(uids[1]));                                                        // copy deleted
    writeFileAtomically(f.file(uids[2]), std::string(before.at(uids[2]).size(), 'z'));  // garbage
    for (auto& item : plan.items) item.status = Cleaner::verify(item, f.layout);
    EXPECT_EQ(plan.items[0].status, S::sizeMismatch(size(uids[0]) - 1, size(uids[0])));
    EXPECT_EQ(plan.items[1].status, S::notBackedUp());
    EXPECT_EQ(plan.items[2].status, S::unreadable());
    // Doubts that arise after that check, before the release: still "verified" in the plan.
    fs::remove(f.file(uids[3]));                                                        // copy removed since
    plan.items[4].serverSize += 1;                                                      // server size differs
    writeFileAtomically(f.file(uids[4]), before.at(uids[4]) + "\n");                  // (copy fits the plan)
    writeFileAtomically(f.file(uids[5]), std::string(before.at(uids[5]).size(), 'z'));  // spoilt since
    ASSERT_EQ(plan.verified().size(), 4u);

    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
    EXPECT_EQ(cleaner.execute(plan, [&](std::int64_t r, std::int64_t t) { calls.emplace_back(r, t); }), 1);
    EXPECT_EQ(calls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 1}, {1, 1}}));
    const auto after = f.serverBytes();
    ASSERT_EQ(after.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(after.at(uids[i]), before.at(uids[i])) << i;
    EXPECT_TRUE(f.flaggedDeleted().empty());
}

TEST(CleanerRelease, FolderRenumberedSinceThePlan) {
    FreeUp f;
    auto uids = f.seedAges({2000, 1990});
    f.backUp(uids);
    Cleaner cleaner = f.cleaner();
    CleanupPlan plan = cleaner.plan("INBOX", daysAgo(730));
    ASSERT_EQ(plan.verified().size(), 2u);
    f.dovecot.setUidValidity(test::users::alice, "INBOX", plan.uidValidity + 100);
    auto e = expectCleanupError([&] { cleaner.execute(plan); });
    EXPECT_EQ(e, CleanupError::uidValidityChanged());
    EXPECT_EQ(f.serverUIDs(), uids);
    EXPECT_TRUE(f.flaggedDeleted().empty());
}

TEST(CleanerRelease, NothingVerifiedOpensNoConnection) {
    FreeUp f;
    auto uids = f.seedAges({2000, 1990});
    f.backUp(uids);
    Cleaner cleaner = f.cleaner();
    CleanupPlan plan = cleaner.plan("INBOX", daysAgo(730));
    for (auto uid : uids) fs::remove(f.file(uid));
    FaultProxy proxy(f.dovecot.imapPort(), nullptr);
    auto e = expectCleanupError([&] { f.cleaner(proxy.port()).execute(plan); });
    EXPECT_EQ(e, CleanupError::nothingVerified());
    EXPECT_EQ(proxy.connections(), 0);

    // Pending and kept items are never candidates either.
    CleanupPlan pending = cleaner.survey("INBOX", daysAgo(730));
    EXPECT_EQ(expectCleanupError([&] { cleaner.execute(pending); }), CleanupError::nothingVerified());
}

TEST(CleanerRelease, WithoutUIDPlusForeignDeletedMessagesBlockTheRelease) {
    test::DovecotOptions options;
    options.uidplus = false;
    FreeUp f(options);
    auto uids = f.seed({{2000}, {1990, {"\\Deleted"}}, {10, {"\\Deleted"}}});
    f.backUp({uids[0], uids[1]});
    Cleaner cleaner = f.cleaner();
    CleanupPlan plan = cleaner.plan("INBOX", daysAgo(730));
    EXPECT_FALSE(plan.serverSupportsUIDPlus);
    EXPECT_EQ(plan.otherDeletedOnServer, 1);
    EXPECT_FALSE(plan.canDeleteSafely());

    FaultProxy proxy(f.dovecot.imapPort(), nullptr);
    auto e = expectCleanupError([&] { f.cleaner(proxy.port()).execute(plan); });
    EXPECT_EQ(e, CleanupError::otherDeletedMessages(1));
    EXPECT_EQ(f.serverUIDs(), uids);
    for (const auto& c : proxy.commands()) EXPECT_FALSE(startsWith(c, "UID STORE")) << c;

    // Once the foreign mark is gone, the run's own earlier mark does not trip the guard.
    {
        auto session = f.dovecot.session(test::users::alice);
        session.check("SELECT INBOX");
        session.check("UID STORE " + std::to_string(uids[2]) + " -FLAGS (\\Deleted)");
    }
    FaultProxy wire(f.dovecot.imapPort(), nullptr);
    EXPECT_EQ(f.cleaner(wire.port()).execute(plan), 2);
    EXPECT_EQ(f.serverUIDs(), (std::vector<std::uint32_t>{uids[2]}));
    // Guard search, flag, plain EXPUNGE.
    std::vector<std::string> release;
    for (const auto& c : wire.commands())
        if (startsWith(c, "UID SEARCH") || startsWith(c, "UID STORE") || startsWith(c, "EXPUNGE") ||
            startsWith(c, "UID EXPUNGE"))
            release.push_back(c);
    const std::string set = std::to_string(uids[0]) + ":" + std::to_string(uids[1]);
    EXPECT_EQ(release, (std::vector<std::string>{"UID SEARCH DELETED", "UID SEARCH DELETED",
                                                  "UID STORE " + set + " +FLAGS.SILENT (\\Deleted)", "EXPUNGE"}));
}

// FETCH replies the server volunteers (say, another client changed a flag)
// must not turn a message whose copy failed the re-check into a confirmed one.
TEST(CleanerRelease, UnsolicitedFetchIsNoConfirmation) {
    FreeUp f;
    auto uids = f.seedAges({2000, 1990});
    f.backUp(uids);
    const auto size = f.dovecot.fetchRaw(test::users::alice, "INBOX", uids[0]).size();
    Cleaner cleaner = f.cleaner();
    CleanupPlan plan = cleaner.plan("INBOX", daysAgo(730));
    ASSERT_EQ(plan.verified().size(), 2u);
    fs::remove(f.file(uids[0]));

    bool injected = false;
    FaultProxy proxy(f.dovecot.imapPort(), nullptr, [&](std::string& response) {
        if (!injected && response.find("RFC822.SIZE") != std::string::npos) {
            injected = true;
            response = "* 1 FETCH (UID " + std::to_string(uids[0]) + " RFC822.SIZE " + std::to_string(size) +
                       " FLAGS (\\Seen))\r\n" + response;
        }
    });
    EXPECT_EQ(f.cleaner(proxy.port()).execute(plan), 1);
    EXPECT_TRUE(injected);
    EXPECT_EQ(f.serverUIDs(), (std::vector<std::uint32_t>{uids[0]}));
}

// Without UIDVALIDITY a UID says nothing lasting about which message it is.
TEST(CleanerSurvey, NoUIDValidityMeansNoLocalCopies) {
    FreeUp f;
    auto uids = f.seedAges({2000});
    f.backUp(uids);
    FaultProxy proxy(f.dovecot.imapPort(), nullptr, [](std::string& response) {
        if (response.rfind("* OK [UIDVALIDITY ", 0) == 0) response = "* OK [X-NOTHING] none\r\n";
    });
    CleanupPlan plan = f.cleaner(proxy.port()).plan("INBOX", daysAgo(730));
    ASSERT_EQ(plan.items.size(), 1u);
    EXPECT_EQ(plan.uidValidity, 0u);
    EXPECT_EQ(plan.items[0].localPath, std::nullopt);
    EXPECT_EQ(plan.items[0].status, S::notBackedUp());
}

// A copy with no digest on record (backed up before digests were kept) is
// compared byte for byte with the server before its message is released: one
// byte changed at the same size passes the size and form check alone.
TEST(CleanerRelease, CopiesWithoutDigestAreComparedWithTheServer) {
    FreeUp f;
    auto uids = f.seedAges({2000, 1990, 1980});
    f.backUp(uids);  // files and sync state only: no digests
    const auto before = f.serverBytes();
    std::string spoilt = before.at(uids[1]);
    spoilt[spoilt.find("Line 1") + 3] = 'x';
    writeFileAtomically(f.file(uids[1]), spoilt);

    Cleaner cleaner = f.cleaner();
    CleanupPlan plan = cleaner.plan("INBOX", daysAgo(730));
    ASSERT_EQ(plan.verified().size(), 3u);
    EXPECT_EQ(cleaner.execute(plan), 2);
    EXPECT_EQ(f.serverUIDs(), std::vector<std::uint32_t>{uids[1]});
    EXPECT_EQ(f.serverBytes().at(uids[1]), before.at(uids[1]));
    EXPECT_TRUE(f.flaggedDeleted().empty());
    // Copies that matched have their digest now; the spoilt one has none.
    EXPECT_EQ(MessageDigests::lookup(f.layout, f.relativePath(uids[0])), MessageDigests::sha256(before.at(uids[0])));
    EXPECT_EQ(MessageDigests::lookup(f.layout, f.relativePath(uids[2])), MessageDigests::sha256(before.at(uids[2])));
    EXPECT_FALSE(MessageDigests::lookup(f.layout, f.relativePath(uids[1])));
}

// A digests file cut short loses the records after the cut: those copies
// are compared with the server like copies that never had one.
TEST(CleanerRelease, DigestsFileCutShortCountsAsNoDigests) {
    FreeUp f;
    auto uids = f.seedAges({2000, 1990, 1980});
    EXPECT_EQ(BackupRunner(f.layout, f.account, test::users::alice.password).run().newMessages, 3);
    Cleaner cleaner = f.cleaner();
    CleanupPlan plan = cleaner.plan("INBOX", daysAgo(730));
    ASSERT_EQ(plan.verified().size(), 3u);
    const fs::path digests = MessageDigests::fileFor(f.layout, "Work/INBOX");
    const std::string records = readFileOrThrow(digests);
    ASSERT_EQ(std::count(records.begin(), records.end(), '\n'), 3);
    writeFileAtomically(digests, records.substr(0, records.find('\n') + 40));  // one record and a piece
    const fs::path third = f.layout.url(*plan.items[2].localPath);
    std::string spoilt = readFileOrThrow(third);
    spoilt[spoilt.find("Line 1") + 3] = 'x';
    writeFileAtomically(third, spoilt);

    EXPECT_EQ(cleaner.execute(plan), 2);
    EXPECT_EQ(f.serverUIDs(), std::vector<std::uint32_t>{uids[2]});
}

// A release killed between flagging and expunging leaves its note; the next
// release of the folder takes the flag off what it does not release now,
// releases the rest, and says how many it found. Without UIDPLUS those
// flags would otherwise block every later release.
TEST(CleanerRelease, LeftoversOfAKilledReleaseAreFinishedOrCleared) {
    test::DovecotOptions options;
    options.uidplus = false;
    FreeUp f(options);
    auto uids = f.seed({{2000, {"\\Deleted"}}, {1990, {"\\Deleted"}}, {1980}, {10, {"\\Deleted"}}});
    f.backUp(uids);
    ReleaseJournal::write(f.layout, f.account.id,
                          {"INBOX", f.dovecot.uidValidity(test::users::alice, "INBOX"), {uids[0], uids[1], uids[3]}});
    Cleaner cleaner = f.cleaner();
    CleanupPlan plan = cleaner.plan("INBOX", daysAgo(730));
    EXPECT_EQ(plan.otherDeletedOnServer, 0);
    ASSERT_EQ(plan.verified().size(), 3u);

    EXPECT_EQ(cleaner.execute(plan), 3);
    EXPECT_EQ(cleaner.leftoversUnflagged, 3);
    EXPECT_EQ(f.serverUIDs(), std::vector<std::uint32_t>{uids[3]});
    EXPECT_TRUE(f.flaggedDeleted().empty());
    EXPECT_FALSE(ReleaseJournal::read(f.layout, f.account.id));
}

// The next backup of the folder finds them too: it takes the flag off the
// noted messages (and no other) and says so in its summary.
TEST(CleanerRelease, LeftoversOfAKilledReleaseAreUnflaggedByTheNextBackup) {
    FreeUp f;
    auto uids = f.seed({{2000, {"\\Deleted"}}, {1990, {"\\Deleted"}}, {1980, {"\\Deleted"}}});
    const std::uint32_t validity = f.dovecot.uidValidity(test::users::alice, "INBOX");
    ReleaseJournal::write(f.layout, f.account.id, {"Other", validity, {uids[0]}});
    BackupRunner backup(f.layout, f.account, test::users::alice.password);
    EXPECT_TRUE(backup.run().unflagged.empty());  // a note of another folder is left alone
    EXPECT_EQ(f.flaggedDeleted().size(), 3u);

    ReleaseJournal::write(f.layout, f.account.id, {"INBOX", validity, {uids[0], uids[2]}});
    const BackupSummary summary = backup.run();
    ASSERT_EQ(summary.unflagged.size(), 1u);
    EXPECT_EQ(summary.unflagged[0].mailbox, "INBOX");
    EXPECT_EQ(summary.unflagged[0].count, 2);
    EXPECT_EQ(f.flaggedDeleted(), std::vector<std::uint32_t>{uids[1]});  // the user's own mark stays
    EXPECT_FALSE(ReleaseJournal::read(f.layout, f.account.id));
    EXPECT_EQ(f.serverUIDs(), uids);
}

// 450 messages, 200 per run.
class CleanerRuns : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<int> ages(450, 1500);
        uids = f.seedAges(ages);
        f.backUp(uids);
        plan = f.cleaner().plan("INBOX", daysAgo(730));
        ASSERT_EQ(plan.verified().size(), 450u);
    }
    std::string set(std::size_t from, std::size_t to) const {
        return std::to_string(uids[from]) + ":" + std::to_string(uids[to - 1]);
    }

    FreeUp f;
    std::vector<std::uint32_t> uids;
    CleanupPlan plan;
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
    Cleaner::Progress record = [this](std::int64_t r, std::int64_t t) { calls.emplace_back(r, t); };
};

TEST_F(CleanerRuns, RunsOfChunkSizeWithProgress) {
    FaultProxy proxy(f.dovecot.imapPort(), nullptr);
    Cleaner cleaner = f.cleaner(proxy.port());
    EXPECT_EQ(cleaner.chunkSize, 200);
    EXPECT_EQ(cleaner.execute(plan, record), 450);
    EXPECT_EQ(calls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 450}, {200, 450}, {400, 450}, {450, 450}}));
    EXPECT_TRUE(f.serverUIDs().empty());
    std::vector<std::string> release;
    for (const auto& c : proxy.commands())
        if (startsWith(c, "UID STORE") || startsWith(c, "UID EXPUNGE") || startsWith(c, "EXPUNGE") ||
            startsWith(c, "UID SEARCH"))
            release.push_back(c);
    EXPECT_EQ(release, (std::vector<std::string>{
                           "UID STORE " + set(0, 200) + " +FLAGS.SILENT (\\Deleted)", "UID EXPUNGE " + set(0, 200),
                           "UID STORE " + set(200, 400) + " +FLAGS.SILENT (\\Deleted)", "UID EXPUNGE " + set(200, 400),
                           "UID STORE " + set(400, 450) + " +FLAGS.SILENT (\\Deleted)", "UID EXPUNGE " + set(400, 450)}));
    EXPECT_EQ(proxy.commands().back(), "LOGOUT");
}

TEST_F(CleanerRuns, ChunkSizeBelowOneActsAsOne) {
    CleanupPlan small = plan;
    small.items.resize(3);
    Cleaner cleaner = f.cleaner();
    cleaner.chunkSize = 0;
    EXPECT_EQ(cleaner.execute(small, record), 3);
    EXPECT_EQ(calls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(f.serverUIDs().size(), 447u);
}

TEST_F(CleanerRuns, StoreRefusedInTheSecondRun) {
    int stores = 0;
    FaultProxy proxy(f.dovecot.imapPort(), [&](const std::string& line) {
        if (startsWith(line, "UID STORE") && line.find("+FLAGS") != std::string::npos && ++stores == 2) {
            // Let the flags land, then refuse: the undo must take them off again.
            return FaultProxy::Decision{FaultProxy::Action::answerNo, "[SERVERBUG] Injected failure"};
        }
        return FaultProxy::Decision{};
    });
    auto e = expectCleanupError([&] { f.cleaner(proxy.port()).execute(plan, record); });
    EXPECT_EQ(e, CleanupError::stopped(200, 450, std::string("UID STORE failed (NO): Injected failure")));
    EXPECT_EQ(e.errorDescription(),
              "Released 200 of 450 messages, then the server reported a problem (UID STORE failed (NO): "
              "Injected failure). The other 250 are still on the server, untouched.");
    EXPECT_EQ(calls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 450}, {200, 450}}));
    auto commands = proxy.commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], "UID STORE " + set(200, 400) + " -FLAGS.SILENT (\\Deleted)");
    EXPECT_EQ(commands.back(), "LOGOUT");
    EXPECT_EQ(f.serverUIDs(), std::vector<std::uint32_t>(uids.begin() + 200, uids.end()));
    EXPECT_TRUE(f.flaggedDeleted().empty());
    EXPECT_FALSE(ReleaseJournal::read(f.layout, f.account.id));  // the undo settled the run
}

TEST_F(CleanerRuns, DropRightAfterExpungeIsSentTellsTheTruth) {
    int expunges = 0;
    FaultProxy proxy(f.dovecot.imapPort(), [&](const std::string& line) {
        if (startsWith(line, "UID EXPUNGE") && ++expunges == 2)
            return FaultProxy::Decision{FaultProxy::Action::forwardThenDrop, ""};
        return FaultProxy::Decision{};
    });
    auto e = expectCleanupError([&] { f.cleaner(proxy.port()).execute(plan, record); });
    // The server did expunge run 2: it is counted, found out on a new connection.
    EXPECT_EQ(e.kind(), CleanupError::Kind::stopped);
    EXPECT_EQ(e.released(), 400);
    EXPECT_EQ(e.total(), 450);
    EXPECT_EQ(e.unknown(), 0);
    EXPECT_TRUE(e.problem());
    EXPECT_EQ(proxy.connections(), 2);
    EXPECT_EQ(f.serverUIDs(), std::vector<std::uint32_t>(uids.begin() + 400, uids.end()));
    EXPECT_TRUE(f.flaggedDeleted().empty());
}

TEST_F(CleanerRuns, DropBeforeTheExpungeArrivesUnflagsTheRun) {
    int expunges = 0;
    FaultProxy proxy(f.dovecot.imapPort(), [&](const std::string& line) {
        if (startsWith(line, "UID EXPUNGE") && ++expunges == 2)
            return FaultProxy::Decision{FaultProxy::Action::dropBeforeForward, ""};
        return FaultProxy::Decision{};
    });
    auto e = expectCleanupError([&] { f.cleaner(proxy.port()).execute(plan, record); });
    EXPECT_EQ(e.released(), 200);
    EXPECT_EQ(e.unknown(), 0);
    EXPECT_EQ(f.serverUIDs(), std::vector<std::uint32_t>(uids.begin() + 200, uids.end()));
    EXPECT_TRUE(f.flaggedDeleted().empty());
    EXPECT_NE(e.errorDescription().find("The other 250 are still on the server, untouched."), std::string::npos);
}

TEST_F(CleanerRuns, UnknownOutcomeIsNeverCalledUntouched) {
    int expunges = 0;
    FaultProxy* self = nullptr;
    FaultProxy proxy(f.dovecot.imapPort(), [&](const std::string& line) {
        if (startsWith(line, "UID EXPUNGE") && ++expunges == 2) {
            self->refuseNewConnections();
            return FaultProxy::Decision{FaultProxy::Action::forwardThenDrop, ""};
        }
        return FaultProxy::Decision{};
    });
    self = &proxy;
    auto e = expectCleanupError([&] { f.cleaner(proxy.port()).execute(plan, record); });
    EXPECT_EQ(e.released(), 200);
    EXPECT_EQ(e.unknown(), 200);
    EXPECT_EQ(e.total(), 450);
    EXPECT_EQ(e.errorDescription(),
              "Released 200 of 450 messages, then the server reported a problem (" + *e.problem() +
                  "). 200 more may have been removed as well; the other 50 are still on the server, untouched.");
    EXPECT_EQ(f.serverUIDs(), std::vector<std::uint32_t>(uids.begin() + 400, uids.end()));
    // Nobody could tell what became of run 2: its note stays for the next run.
    const auto note = ReleaseJournal::read(f.layout, f.account.id);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->uids, std::vector<std::uint32_t>(uids.begin() + 200, uids.begin() + 400));
}

TEST_F(CleanerRuns, StopBeforeTheFirstRun) {
    std::stop_source stop;
    stop.request_stop();
    FaultProxy proxy(f.dovecot.imapPort(), nullptr);
    auto e = expectCleanupError([&] { f.cleaner(proxy.port()).execute(plan, record, stop.get_token()); });
    EXPECT_EQ(e.kind(), CleanupError::Kind::stopped);
    EXPECT_EQ(e.released(), 0);
    EXPECT_EQ(e.errorDescription(), "Stopped before anything was released.");
    EXPECT_EQ(f.serverUIDs().size(), 450u);
    EXPECT_TRUE(f.flaggedDeleted().empty());
    for (const auto& c : proxy.commands()) EXPECT_FALSE(startsWith(c, "UID STORE")) << c;
}

TEST_F(CleanerRuns, StopAfterTheFirstOfThreeRuns) {
    std::stop_source stop;
    FaultProxy proxy(f.dovecot.imapPort(), nullptr);
    auto e = expectCleanupError([&] {
        f.cleaner(proxy.port()).execute(
            plan,
            [&](std::int64_t r, std::int64_t t) {
                record(r, t);
                if (r == 200) stop.request_stop();
            },
            stop.get_token());
    });
    EXPECT_EQ(e, CleanupError::stopped(200, 450, std::nullopt));
    EXPECT_EQ(e.errorDescription(), "Stopped after releasing 200 of 450 messages. The other 250 stay on the server.");
    EXPECT_EQ(calls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 450}, {200, 450}}));
    EXPECT_EQ(proxy.commands().back(), "LOGOUT");
    EXPECT_EQ(f.serverUIDs(), std::vector<std::uint32_t>(uids.begin() + 200, uids.end()));
    EXPECT_TRUE(f.flaggedDeleted().empty());
}

TEST_F(CleanerRuns, StopDuringARunLetsTheRunFinish) {
    std::stop_source stop;
    int stores = 0;
    FaultProxy proxy(f.dovecot.imapPort(), [&](const std::string& line) {
        if (startsWith(line, "UID STORE") && ++stores == 2) {
            stop.request_stop();
            std::this_thread::sleep_for(50ms);  // the stop lands while the command is in flight
        }
        return FaultProxy::Decision{};
    });
    auto e = expectCleanupError([&] { f.cleaner(proxy.port()).execute(plan, record, stop.get_token()); });
    EXPECT_EQ(e, CleanupError::stopped(400, 450, std::nullopt));
    EXPECT_EQ(f.serverUIDs(), std::vector<std::uint32_t>(uids.begin() + 400, uids.end()));
    EXPECT_TRUE(f.flaggedDeleted().empty());
}

TEST_F(CleanerRuns, ReadOnlyFolderStopsBeforeAnythingIsFlagged) {
    FaultProxy proxy(f.dovecot.imapPort(), nullptr, [](std::string& response) {
        auto at = response.find("[READ-WRITE]");
        if (at != std::string::npos) response.replace(at, 12, "[READ-ONLY]");
    });
    auto e = expectCleanupError([&] { f.cleaner(proxy.port()).execute(plan, record); });
    EXPECT_EQ(e.kind(), CleanupError::Kind::stopped);
    EXPECT_EQ(e.released(), 0);
    EXPECT_TRUE(e.problem());
    EXPECT_TRUE(calls.empty());
    for (const auto& c : proxy.commands()) EXPECT_FALSE(startsWith(c, "UID STORE")) << c;
    EXPECT_EQ(f.serverUIDs().size(), 450u);
}

}  // namespace
}  // namespace bx
