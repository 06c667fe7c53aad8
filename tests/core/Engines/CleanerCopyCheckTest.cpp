// The copy check and the folder scan, on local files only.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <vector>

#include "Engines/Cleaner.h"
#include "Vault/MessageDigests.h"
#include "support/TempDir.h"

namespace bx {
namespace {

namespace fs = std::filesystem;
using S = CleanupItem::Status;

const std::string kMail =
    "From: Ann <ann@example.com>\r\nTo: bob@example.com\r\nSubject: Hello\r\n"
    "Date: Thu, 7 Mar 2024 09:15:02 +0100\r\nMessage-ID: <a1@example.com>\r\n\r\nBody text.\r\n";

TEST(CleanerCopyCheck, RulesInOrder) {
    test::TempDir dir;
    const auto n = static_cast<std::int64_t>(kMail.size());
    dir.write("good.eml", kMail);
    dir.write("long.eml", kMail + "x");
    dir.write("short.eml", kMail.substr(0, kMail.size() - 1));
    dir.write("garbage.eml", std::string(kMail.size(), '\x07'));
    dir.write("nohead.eml", "\r\n" + kMail.substr(2));  // blank first line: no header block
    dir.write("binary.eml", std::string("\xFF\xD8\xFF\xE0", 4) + std::string(kMail.size() - 4, 'j'));
    dir.mkdir("folder.eml");

    struct Case { const char* file; std::int64_t serverSize; S expected; };
    const Case cases[] = {
        {"good.eml", n, S::verified()},
        {"long.eml", n, S::sizeMismatch(n + 1, n)},
        {"short.eml", n, S::sizeMismatch(n - 1, n)},
        {"good.eml", n + 5, S::sizeMismatch(n, n + 5)},
        {"garbage.eml", n, S::unreadable()},
        {"nohead.eml", n, S::unreadable()},
        {"binary.eml", n, S::unreadable()},
        {"missing.eml", n, S::notBackedUp()},
        {"folder.eml", n, S::notBackedUp()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Cleaner::verify(dir / c.file, c.serverSize), c.expected) << c.file;
}

TEST(CleanerCopyCheck, UnreadableFileOfTheRightSize) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
    test::TempDir dir;
    auto file = dir.write("locked.eml", kMail);
    fs::permissions(file, fs::perms::none);
    EXPECT_EQ(Cleaner::verify(file, static_cast<std::int64_t>(kMail.size())), S::unreadable());
}

TEST(CleanerCopyCheck, ItemPaths) {
    test::TempDir dir;
    ArchiveLayout layout(dir.path());
    dir.write("Acct/INBOX/2019/2019-01-02 Hello 7.eml", kMail);
    const auto n = static_cast<std::int64_t>(kMail.size());
    auto item = [&](std::optional<std::string> path) {
        return CleanupItem(7, n, std::nullopt, std::move(path), S::pending());
    };
    EXPECT_EQ(Cleaner::verify(item("Acct/INBOX/2019/2019-01-02 Hello 7.eml"), layout), S::verified());
    EXPECT_EQ(Cleaner::verify(item(std::nullopt), layout), S::notBackedUp());
    EXPECT_EQ(Cleaner::verify(item("Acct/INBOX/2019/gone 7.eml"), layout), S::notBackedUp());
    // A path that leaves the vault is never read, even when it names a good copy.
    dir.write("outside/x.eml", kMail);
    ArchiveLayout inner(dir / "vault");
    fs::create_directories(dir / "vault");
    EXPECT_EQ(Cleaner::verify(item("../outside/x.eml"), inner), S::notBackedUp());
    EXPECT_EQ(Cleaner::verify(item((dir / "outside/x.eml").string()), inner), S::notBackedUp());
}

// A link is never a backed-up copy, wherever it lies on the way to the file
// and however good the file it names.
TEST(CleanerCopyCheck, LinksAreNotCopies) {
    test::TempDir dir;
    ArchiveLayout layout(dir / "vault");
    const auto n = static_cast<std::int64_t>(kMail.size());
    const auto outside = dir.write("outside/INBOX/2019/2019-01-02 Hello 7.eml", kMail);
    dir.write("vault/Acct/INBOX/2019/2019-01-02 Real 8.eml", kMail);
    fs::create_symlink(outside, dir / "vault/Acct/INBOX/2019/2019-01-02 Hello 7.eml");
    fs::create_directory_symlink(dir / "outside", dir / "vault/Linked");
    fs::create_directory_symlink(dir / "outside/INBOX/2019", dir / "vault/Acct/INBOX/2018");
    auto item = [&](const std::string& path) { return CleanupItem(7, n, std::nullopt, path, S::pending()); };

    EXPECT_EQ(Cleaner::verify(item("Acct/INBOX/2019/2019-01-02 Real 8.eml"), layout), S::verified());
    EXPECT_EQ(Cleaner::verify(item("Acct/INBOX/2019/2019-01-02 Hello 7.eml"), layout), S::notBackedUp());
    EXPECT_EQ(Cleaner::verify(item("Linked/INBOX/2019/2019-01-02 Hello 7.eml"), layout), S::notBackedUp());
    EXPECT_EQ(Cleaner::verify(item("Acct/INBOX/2018/2019-01-02 Hello 7.eml"), layout), S::notBackedUp());
    EXPECT_EQ(Cleaner::verify(dir / "vault/Acct/INBOX/2019/2019-01-02 Hello 7.eml", n), S::notBackedUp());

    // The scan lists only the plain file, not the link beside it nor the
    // files behind the linked folder.
    const std::map<std::uint32_t, std::string> expected = {{8, "Acct/INBOX/2019/2019-01-02 Real 8.eml"}};
    EXPECT_EQ(Cleaner::filesByUID(layout, "Acct/INBOX"), expected);
}

// A copy the backup wrote carries its digest: changed in place at the same
// size it is no longer verified. A copy without a recorded digest (written by
// an earlier build) keeps the size-and-header check.
TEST(CleanerCopyCheck, RecordedDigestCatchesACopyChangedInPlace) {
    test::TempDir dir;
    ArchiveLayout layout(dir.path());
    const auto n = static_cast<std::int64_t>(kMail.size());
    const std::string recorded = "Acct/INBOX/2019/2019-01-02 Hello 7.eml";
    const std::string older = "Acct/INBOX/2019/2019-01-02 Older 6.eml";
    dir.write(recorded, kMail);
    dir.write(older, kMail);
    MessageDigests::append(layout, {{recorded, MessageDigests::sha256(kMail)}});
    auto item = [&](const std::string& path) { return CleanupItem(7, n, std::nullopt, path, S::pending()); };
    EXPECT_EQ(Cleaner::verify(item(recorded), layout), S::verified());

    std::string rotted = kMail;
    rotted[rotted.find("Body")] = 'b';  // one bit, same size, header intact
    dir.write(recorded, rotted);
    dir.write(older, rotted);
    EXPECT_EQ(Cleaner::verify(item(recorded), layout), S::unreadable());
    EXPECT_EQ(Cleaner::verify(item(older), layout), S::verified());

    // The last record of a path counts; a line a kill cut short is not read,
    // and the next batch still starts on a line of its own.
    MessageDigests::append(layout, {{recorded, MessageDigests::sha256(rotted)}});
    EXPECT_EQ(Cleaner::verify(item(recorded), layout), S::verified());
    {
        std::ofstream torn(MessageDigests::fileFor(layout, "Acct/INBOX"), std::ios::app | std::ios::binary);
        torn << MessageDigests::sha256(kMail) << " " << recorded;
    }
    EXPECT_EQ(MessageDigests::lookup(layout, recorded), MessageDigests::sha256(rotted));
    MessageDigests::append(layout, {{older, MessageDigests::sha256(kMail)}});
    EXPECT_EQ(MessageDigests::lookup(layout, recorded), MessageDigests::sha256(rotted));
    EXPECT_EQ(MessageDigests::lookup(layout, older), MessageDigests::sha256(kMail));
    EXPECT_EQ(Cleaner::verify(item(older), layout), S::unreadable());
}

// A run checked as one batch gives every item the status the check of that
// item alone gives, whatever mix of copies the run holds, however its items
// are spread over folders (more than a batch holds open at once) and
// threads, and with the vault's root reached through a link.
TEST(CleanerCopyCheck, ARunIsCheckedAsEachItemAlone) {
    test::TempDir dir;
    const fs::path vault = dir / "vault";
    const auto n = static_cast<std::int64_t>(kMail.size());
    std::string changed = kMail;
    changed[changed.find("Body")] = 'b';
    const auto outside = dir.write("outside/2019/x 1.eml", kMail);
    std::vector<CleanupItem> items;
    std::vector<std::pair<std::string, std::string>> digests;
    std::uint32_t uid = 0;
    auto add = [&](const std::string& path, std::int64_t serverSize) {
        items.emplace_back(++uid, serverSize, std::nullopt, path, S::pending());
    };
    for (int f = 0; f < 300; ++f) {
        const std::string folder = std::string(f % 3 ? "Acct/INBOX/" : "Other/Sent/") + std::to_string(1700 + f) + "/";
        const std::string good = folder + "good 1.eml", older = folder + "older 2.eml", rotted = folder + "changed 3.eml";
        dir.write(vault / good, kMail);
        dir.write(vault / older, kMail);
        dir.write(vault / rotted, changed);
        dir.write(vault / (folder + "long 4.eml"), kMail + "x");
        dir.write(vault / (folder + "garbage 5.eml"), std::string(kMail.size(), '\x07'));
        fs::create_symlink(outside, vault / (folder + "link 6.eml"));
        digests.emplace_back(good, MessageDigests::sha256(kMail));
        digests.emplace_back(rotted, MessageDigests::sha256(kMail));
        for (const char* name : {"good 1.eml", "older 2.eml", "changed 3.eml", "long 4.eml", "garbage 5.eml", "link 6.eml",
                                 "missing 7.eml"})
            add(folder + name, n);
        add(good, n + 1);
        if (f % 50 == 0) {
            fs::create_directories(vault / (folder + "folder 8.eml"));
            add(folder + "folder 8.eml", n);
        }
    }
    MessageDigests::append(ArchiveLayout(vault), digests);
    dir.write(vault / "loose 9.eml", kMail);
    dir.write(vault / "Acct/shallow 10.eml", kMail);
    fs::create_directory_symlink(dir / "outside", vault / "Acct/Linked");
    // The folders' items interleaved, as a plan by UID mixes years.
    std::mt19937 rng(7);
    std::shuffle(items.begin(), items.end(), rng);
    // Odd places, both among the first folders a batch opens and after the
    // most it holds open.
    std::vector<CleanupItem> odd;
    for (const char* path : {"loose 9.eml", "Acct/shallow 10.eml", "Acct/Linked/2019/x 1.eml", "Acct/Linked/x.eml",
                             "../outside/2019/x 1.eml", "Acct//INBOX/x.eml", ""})
        odd.emplace_back(++uid, n, std::nullopt, path, S::pending());
    odd.emplace_back(++uid, n, std::nullopt, outside.string(), S::pending());
    odd.emplace_back(++uid, n, std::nullopt, std::nullopt, S::pending());
    items.insert(items.begin(), odd.begin(), odd.end());
    items.insert(items.end(), odd.begin(), odd.end());

    fs::create_directory_symlink(vault, dir / "linked vault");
    for (const fs::path& root : {vault, dir / "linked vault"}) {
        const ArchiveLayout layout(root);
        const std::vector<S> batch = Cleaner::verify(items, layout);
        ASSERT_EQ(batch.size(), items.size());
        std::map<int, int> kinds;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const S alone = Cleaner::verify(items[i], layout);
            EXPECT_EQ(batch[i], alone) << items[i].localPath.value_or("(none)") << " below " << root;
            ++kinds[static_cast<int>(alone.kind())];
        }
        // The fixture reaches every outcome.
        EXPECT_EQ(kinds[static_cast<int>(S::Kind::verified)], 300 * 2 + 2 * 2) << root;
        EXPECT_EQ(kinds[static_cast<int>(S::Kind::unreadable)], 300 * 2) << root;
        EXPECT_EQ(kinds[static_cast<int>(S::Kind::sizeMismatch)], 300 * 2) << root;
        EXPECT_EQ(kinds[static_cast<int>(S::Kind::notBackedUp)], 300 * 2 + 6 + 7 * 2) << root;
    }
    // A run of a few, and none.
    const ArchiveLayout layout(vault);
    const std::vector<CleanupItem> few(items.begin(), items.begin() + 3);
    const auto fewStatuses = Cleaner::verify(few, layout);
    for (std::size_t i = 0; i < few.size(); ++i) EXPECT_EQ(fewStatuses[i], Cleaner::verify(few[i], layout));
    EXPECT_TRUE(Cleaner::verify(std::vector<CleanupItem>(), layout).empty());
}

}  // namespace
}  // namespace bx
