#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "Util/AtomicFile.h"
#include "Util/Date.h"
#include "Vault/ArchiveLayout.h"
#include "Vault/MailAccount.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using bx::ArchiveLayout;

namespace {

bx::Date at(const char* iso) { return *bx::parseISO8601(iso); }

long long mtimeSeconds(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec;
}

std::vector<std::string> emlFiles(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(ArchiveLayout, Locations) {
    ArchiveLayout layout("/v");
    EXPECT_EQ(layout.metaDirectory(), fs::path("/v/.brindlebox"));
    EXPECT_EQ(layout.indexURL(), fs::path("/v/.brindlebox/index.json"));
    EXPECT_EQ(layout.accountsURL(), fs::path("/v/.brindlebox/accounts.json"));
    EXPECT_EQ(layout.filtersURL(), fs::path("/v/.brindlebox/filters.json"));
    const auto id = *bx::UUID::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    EXPECT_EQ(layout.syncURL(id), fs::path("/v/.brindlebox/sync-E621E1F8-C36C-495A-93FC-0C247A3E6E5F.json"));
    EXPECT_EQ(layout.url("Acct/INBOX/2024/x.eml"), fs::path("/v/Acct/INBOX/2024/x.eml"));
}

TEST(ArchiveLayout, PathsThatLeaveTheVaultAreRefused) {
    const struct {
        const char* path;
        bool safe;
    } cases[] = {
        {"a/b/c.eml", true},    {"a b/..c/c..", true},  {"", false},         {"/etc/passwd", false},
        {"a/../../etc", false}, {"..", false},          {"./a", false},      {"a//b", false},
        {"a/b/", false},        {"a/./b", false},       {"a/..", false},
    };
    ArchiveLayout layout("/v");
    for (const auto& c : cases) {
        EXPECT_EQ(ArchiveLayout::isSafeRelativePath(c.path), c.safe) << c.path;
        EXPECT_EQ(layout.resolve(c.path).has_value(), c.safe) << c.path;
        if (!c.safe) {
            EXPECT_THROW(layout.url(c.path), bx::UnsafePathError) << c.path;
        }
    }
    EXPECT_FALSE(ArchiveLayout::isSafeRelativePath(std::string("a\0b", 3)));
    EXPECT_THROW(layout.write("x", "../outside.eml", at("2024-01-01T00:00:00Z")), bx::UnsafePathError);
}

TEST(ArchiveLayout, WriteStoresOnceAndDatesTheFile) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    const auto date = at("2021-06-01T10:00:00Z");
    const std::string rel = "Acct/INBOX/2021/2021-06-01 Hi 1.eml";

    EXPECT_EQ(layout.write("message one", rel, date), rel);  // folders are created
    EXPECT_EQ(dir.read(rel), "message one");
    EXPECT_EQ(mtimeSeconds(dir / rel), bx::secondsSince1970(date));

    // Identical bytes: same path, nothing written, the file's date untouched.
    bx::setModificationTime(dir / rel, at("2022-01-01T00:00:00Z"));
    EXPECT_EQ(layout.write("message one", rel, date), rel);
    EXPECT_EQ(mtimeSeconds(dir / rel), bx::secondsSince1970(at("2022-01-01T00:00:00Z")));

    // Same length, other bytes: a second file beside it.
    const std::string second = "Acct/INBOX/2021/2021-06-01 Hi 1 (2).eml";
    EXPECT_EQ(layout.write("message two", rel, date), second);
    EXPECT_EQ(dir.read(rel), "message one");
    EXPECT_EQ(dir.read(second), "message two");
    EXPECT_EQ(emlFiles(dir.path()).size(), 2u);
}

TEST(ArchiveLayout, WriteCountsPastTakenNames) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    dir.write("F/name.eml", "a");
    dir.write("F/name (2).eml", "bb");
    dir.write("F/name (3).eml", "ccc");
    const auto date = at("2020-01-01T00:00:00Z");
    EXPECT_EQ(layout.write("dddd", "F/name.eml", date), "F/name (4).eml");
    EXPECT_EQ(layout.write("bb", "F/name.eml", date), "F/name (2).eml");
    EXPECT_EQ(dir.read("F/name (2).eml"), "bb");
    EXPECT_EQ(emlFiles(dir / "F").size(), 4u);
}

TEST(ArchiveLayout, WriteNeverFollowsOrReplacesWhatIsThere) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    const auto victim = dir.write("outside.txt", "precious");
    dir.mkdir("F");
    fs::create_symlink(victim, dir / "F/m.eml");
    EXPECT_EQ(layout.write("precious", "F/m.eml", at("2020-01-01T00:00:00Z")), "F/m (2).eml");
    EXPECT_EQ(dir.read("outside.txt"), "precious");
    EXPECT_TRUE(fs::is_symlink(dir / "F/m.eml"));
}

TEST(ArchiveLayout, WriteFailsClearlyWhenTheNameCannotBeChecked) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    const std::string longName = "F/" + std::string(300, 'x') + ".eml";  // beyond NAME_MAX
    try {
        layout.write("data", longName, at("2020-01-01T00:00:00Z"));
        FAIL() << "expected an error";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENAMETOOLONG);
    }
    EXPECT_TRUE(emlFiles(dir / "F").empty());
}

// Several writers racing for one name: every message ends up stored, none is
// replaced, and no temp file is left over.
TEST(ArchiveLayout, ConcurrentWritersNeverReplaceEachOther) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    const int writers = 8, rounds = 20;
    for (int round = 0; round < rounds; ++round) {
        const std::string rel = "R/" + std::to_string(round) + ".eml";
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        std::vector<std::string> got(writers);
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([&, w] {
                ready.fetch_add(1);
                while (ready.load() < writers) {
                }
                got[w] = layout.write("writer " + std::to_string(w), rel, at("2020-01-01T00:00:00Z"));
            });
        }
        for (auto& t : threads) t.join();
        std::set<std::string> paths(got.begin(), got.end());
        EXPECT_EQ(paths.size(), static_cast<size_t>(writers));
        for (int w = 0; w < writers; ++w) EXPECT_EQ(dir.read(got[w]), "writer " + std::to_string(w));
    }
    EXPECT_EQ(emlFiles(dir / "R").size(), static_cast<size_t>(writers * rounds));
}

// A link where a folder of the vault belongs (account, mail folder, year, or
// the state folder) never sends a message file or the sync state elsewhere:
// the write fails and names the path.
TEST(ArchiveLayout, LinkedFoldersInsideTheVaultAreRefused) {
    const struct {
        const char* link;      // vault-relative folder made a link to "outside"
        const char* relative;  // what is written
    } cases[] = {
        {"Acct", "Acct/INBOX/2020/m 1.eml"},
        {"Acct/INBOX", "Acct/INBOX/2020/m 1.eml"},
        {"Acct/INBOX/2020", "Acct/INBOX/2020/m 1.eml"},
    };
    for (const auto& c : cases) {
        bx::test::TempDir dir;
        fs::create_directories(dir / "outside");
        fs::create_directories((dir / "vault" / c.link).parent_path());
        fs::create_directory_symlink(dir / "outside", dir / "vault" / c.link);
        ArchiveLayout layout(dir / "vault");
        try {
            layout.write("data", c.relative, at("2020-01-01T00:00:00Z"));
            ADD_FAILURE() << c.link << ": expected an error";
        } catch (const std::system_error& e) {
            EXPECT_NE(std::string(e.what()).find((dir / "vault" / c.link).string()), std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(fs::is_empty(dir / "outside")) << c.link;
    }

    bx::test::TempDir dir;
    fs::create_directories(dir / "outside");
    fs::create_directories(dir / "vault");
    fs::create_directory_symlink(dir / "outside", dir / "vault/.brindlebox");
    ArchiveLayout layout(dir / "vault");
    EXPECT_THROW(layout.ensure(), std::system_error);
    EXPECT_THROW(layout.saveSync(bx::AccountSyncState(), bx::UUID::random()), std::system_error);
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
}

// The vault's root itself may be reached through a link (a Documents folder
// on another disk); only what lies below it is walked without links.
TEST(ArchiveLayout, RootReachedThroughALinkWorks) {
    bx::test::TempDir dir;
    fs::create_directories(dir / "real");
    fs::create_directory_symlink(dir / "real", dir / "vault");
    ArchiveLayout layout(dir / "vault");
    EXPECT_EQ(layout.write("data", "Acct/INBOX/2020/m 1.eml", at("2020-01-01T00:00:00Z")), "Acct/INBOX/2020/m 1.eml");
    layout.saveSync(bx::AccountSyncState(), bx::UUID::random());
    EXPECT_EQ(dir.read("real/Acct/INBOX/2020/m 1.eml"), "data");
}

// Temp files that a killed save left beside a state file go with its next save.
TEST(ArchiveLayout, NextSaveRemovesTempFilesAKillLeft) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    const auto id = bx::UUID::random();
    layout.saveSync(bx::AccountSyncState(), id);
    const std::string name = layout.syncURL(id).filename().string();
    const auto leftover = dir.write(".brindlebox/." + name + ".tmp-abcdefghij12", "{\"folders\":{");
    const auto otherFile = dir.write(".brindlebox/.index.json.tmp-abcdefghij12", "{");
    const auto similar = dir.write(".brindlebox/." + name + ".tmp-notours", "x");
    layout.saveSync(bx::AccountSyncState(), id);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(otherFile));  // another file's temp is that file's business
    EXPECT_TRUE(fs::exists(similar));
    EXPECT_EQ(layout.loadSync(id).folders.size(), 0u);
}

namespace {
const std::string kScanMail = "From: a@example.com\r\nSubject: Hello\r\n\r\nBody.\r\n";
}  // namespace

TEST(ArchiveLayoutScan, FilesByTheUIDThatEndsTheirName) {
    bx::test::TempDir dir;
    bx::ArchiveLayout layout(dir / "vault");
    const std::string folder = "Acct/INBOX";
    auto put = [&](const std::string& rel) { dir.write("vault/" + folder + "/" + rel, kScanMail); };
    put("2019/2019-01-02 Hello 4711.eml");
    put("2020/2020-05-06 Upper 12.EML");
    put("2020/2020-05-06 Two  spaces   13 .eml");
    put("2020/2020-05-06 Not a number abc.eml");
    put("2020/2020-05-06 Too big 4294967296.eml");
    put("2020/2020-05-06 Signed +14.eml");
    put("2020/2020-05-06 Text 15.txt");
    put(".hidden/2018-01-01 Hidden 16.eml");
    put("2021/2021-01-01 First 20.eml");
    put("2022/2022-01-01 Second 20.eml");
    put("2023/2023-01-01 Collision 21 (2).eml");  // last word is "(2)"
    dir.write("vault/Acct/Other/2019-01-01 Elsewhere 30.eml", kScanMail);

    auto found = layout.filesByUID(folder);
    const std::map<std::uint32_t, std::string> expected = {
        {4711, "Acct/INBOX/2019/2019-01-02 Hello 4711.eml"},
        {12, "Acct/INBOX/2020/2020-05-06 Upper 12.EML"},
        {13, "Acct/INBOX/2020/2020-05-06 Two  spaces   13 .eml"},
        {16, "Acct/INBOX/.hidden/2018-01-01 Hidden 16.eml"},
        {20, "Acct/INBOX/2021/2021-01-01 First 20.eml"},
    };
    EXPECT_EQ(found, expected);

    // The root may be given with dot segments or a trailing slash.
    bx::ArchiveLayout dotted(dir / "vault" / "." / "Acct" / ".." / "");
    EXPECT_EQ(dotted.filesByUID(folder), expected);

    EXPECT_TRUE(layout.filesByUID("Acct/Missing").empty());
    EXPECT_TRUE(layout.filesByUID("../vault/Acct/INBOX").empty());
}

TEST(ArchiveLayoutScan, FilesBySizeListsTheFolder) {
    bx::test::TempDir dir;
    bx::ArchiveLayout layout(dir.path());
    dir.write("A/INBOX/2024/one.eml", "12345");
    dir.write("A/INBOX/2023/two.EML", "abcde");
    dir.write("A/INBOX/.hidden/three.eml", "xyz");
    dir.write("A/INBOX/notes.txt", "12345");
    dir.write("A/Other/four.eml", "12345");
    std::filesystem::create_symlink(dir / "A/Other/four.eml", dir / "A/INBOX/link.eml");
    auto map = layout.filesBySize("A/INBOX");
    for (auto& [size, paths] : map) std::sort(paths.begin(), paths.end());
    EXPECT_EQ(map, (std::map<std::int64_t, std::vector<std::string>>{
                       {5, {"A/INBOX/2023/two.EML", "A/INBOX/2024/one.eml"}}, {3, {"A/INBOX/.hidden/three.eml"}}}));
    EXPECT_TRUE(layout.filesBySize("A/None").empty());
    EXPECT_TRUE(layout.filesBySize("../A").empty());
}

namespace {

bx::MailAccount accountOf(const std::string& label, const std::string& user, const std::string& host = "mail.example.com") {
    return bx::MailAccount(bx::UUID::random(), label, user, bx::IMAPServer(host, 993, false), "custom", {"INBOX"}, {});
}

// A sync state that files the account's INBOX under `accountDir`.
bx::AccountSyncState stateIn(const std::string& accountDir) {
    bx::AccountSyncState s;
    bx::FolderState inbox("INBOX", accountDir + "/INBOX", 77);
    inbox.highestUID = 3;
    inbox.files = {{"3", accountDir + "/INBOX/2024/2024-01-01 Hello 3.eml"}};
    s.folders["INBOX"] = inbox;
    return s;
}

mode_t modeOf(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(ArchiveLayoutAccounts, AccountFolderFollowsTheSyncStateThenTheLabel) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir / "vault");
    const auto first = accountOf("Work", "ann"), second = accountOf("Work", "bob");
    EXPECT_EQ(layout.accountFolder(first), "Work");
    layout.saveSync(stateIn("Work"), first);
    // The label's folder is taken: the second account gets one of its own.
    const std::string own = "Work (" + second.id.string().substr(0, 8) + ")";
    EXPECT_EQ(layout.accountFolder(second), own);
    EXPECT_EQ(layout.accountFolder(first), "Work");
    // Once an account has state, its folder is where that state files mail,
    // whatever its label says now.
    layout.saveSync(stateIn(own), second);
    EXPECT_EQ(layout.accountFolder(second), own);
    auto renamed = first;
    renamed.label = "Office";
    EXPECT_EQ(layout.accountFolder(renamed), "Work");
}

TEST(ArchiveLayoutAccounts, AnAccountAddedAgainTakesOverItsOldSyncState) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir / "vault");
    const auto gone = accountOf("Work", "ann");
    const auto stillHere = accountOf("Work", "ann", "other.example.com");
    layout.saveSync(stateIn("Work"), gone);
    layout.saveSync(stateIn("Elsewhere"), stillHere);

    // Another login, or a login whose file belongs to a current account, takes nothing.
    EXPECT_FALSE(layout.adoptSync(accountOf("Work", "bob"), {stillHere.id}));
    auto sameAsCurrent = accountOf("Again", "ann", "other.example.com");
    EXPECT_FALSE(layout.adoptSync(sameAsCurrent, {stillHere.id}));

    // The same login, host in another case, under another label: the gone
    // account's state becomes the new one's, folder and all.
    auto again = accountOf("Work 2", "ann", "MAIL.example.com");
    ASSERT_TRUE(layout.adoptSync(again, {stillHere.id}));
    EXPECT_FALSE(fs::exists(layout.syncURL(gone)));
    EXPECT_EQ(layout.loadSync(again), stateIn("Work"));
    EXPECT_EQ(layout.accountFolder(again), "Work");
    // Now it belongs to a current account, and an account with state takes nothing.
    EXPECT_FALSE(layout.adoptSync(accountOf("Work", "ann"), {stillHere.id, again.id}));
    layout.saveSync(stateIn("Work"), gone);
    EXPECT_FALSE(layout.adoptSync(again, {stillHere.id, again.id}));
    EXPECT_TRUE(fs::exists(layout.syncURL(gone)));

    // A file from before files named their login is named when its account goes.
    const auto old = accountOf("Old", "carol");
    layout.saveSync(stateIn("Old"), old.id);
    EXPECT_FALSE(layout.adoptSync(accountOf("Old", "carol"), {}));
    layout.nameSyncOwner(old);
    EXPECT_EQ(layout.loadSync(old), stateIn("Old"));
    EXPECT_TRUE(layout.adoptSync(accountOf("Old", "carol"), {}));
}

TEST(ArchiveLayoutAccounts, WhatTheVaultWritesIsForItsOwnerOnly) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir / "vault" / "deeper");
    const auto account = accountOf("Work", "ann");
    const std::string path = layout.write("Subject: x\r\n\r\nbody\r\n", "Work/INBOX/2024/2024-01-01 x 1.eml",
                                          at("2024-01-01T00:00:00Z"));
    layout.saveSync(stateIn("Work"), account);
    layout.appendSyncJournal(std::string("{}\n"), account);
    for (const fs::path folder : {dir / "vault", layout.root, layout.root / "Work", layout.root / "Work/INBOX/2024",
                                  layout.metaDirectory()})
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
    for (const fs::path file : {layout.url(path), layout.syncURL(account), layout.syncJournalURL(account.id)})
        EXPECT_EQ(modeOf(file), 0600u) << file;

    // A rewrite keeps the permissions the file had, opened up or closed down.
    const fs::path state = layout.metaDirectory() / "filters.json";
    bx::writeFileAtomically(state, "[]");
    EXPECT_EQ(modeOf(state), 0600u);
    for (const mode_t mode : {mode_t(0644), mode_t(0400)}) {
        ASSERT_EQ(::chmod(state.c_str(), mode), 0);
        bx::writeFileAtomically(state, "[1]");
        EXPECT_EQ(modeOf(state), mode);
    }
    layout.saveSync(stateIn("Work"), account);
    EXPECT_EQ(modeOf(layout.syncURL(account)), 0600u);
}
