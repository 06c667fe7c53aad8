// The demo vault's generators and writer, with the clock pinned where the
// output depends on it (TZ=UTC comes from the test environment).
#include "DemoMode/DemoFiller.h"
#include "DemoMode/DemoMail.h"
#include "DemoMode/DemoMode.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "Store/CoreIndex.h"
#include "Mime/MIMEParser.h"
#include "Util/AtomicFile.h"
#include "Util/Json.h"
#include "Vault/ArchiveLayout.h"
#include "Vault/MailAccount.h"

namespace fs = std::filesystem;
using bx::DemoFiller;
using bx::DemoMail;
using bx::DemoMode;

namespace {

const QDateTime kNow(QDate(2026, 12, 10), QTime(12, 0), Qt::UTC);

std::string minutesAfter(const QDateTime& from, const QDateTime& to) {
    const qint64 m = from.secsTo(to) / 60;
    return std::to_string(m / 1440) + "d " + std::to_string(m % 1440 / 60) + "h " + std::to_string(m % 60) + "m";
}

std::string str(const QByteArray& b) { return b.toStdString(); }

}  // namespace

TEST(DemoFiller, FirstMonthMatchesTheSeededDraws) {
    const auto all = DemoFiller::messages(kNow);
    const QDateTime start(QDate(2011, 2, 1), QTime(0, 0));
    struct Row {
        const char* folder;
        const char* subject;
        const char* body;
        const char* offset;
        bool newsletter;
    };
    // Sorted by date; the making order was reply, library, newsletter, energy.
    const Row rows[] = {
        {"INBOX", "Meter reading reminder", "Quick question when you have a minute.", "2d 7h 34m", false},
        {"INBOX", "Renewed: 2 items", "Short note to say thanks — talk soon.", "7d 8h 6m", false},
        {"INBOX", "Notebooks worth keeping", nullptr, "24d 8h 46m", true},
        {"Sent", "Re: Climbing on Thursday?", "Short note to say thanks — talk soon.", "25d 22h 7m", false},
    };
    ASSERT_GE(all.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(all[i].account, "Personal");
        EXPECT_EQ(all[i].folder, rows[i].folder);
        EXPECT_EQ(all[i].subject, rows[i].subject);
        if (rows[i].body) {
            EXPECT_EQ(all[i].body, rows[i].body);
        }
        EXPECT_EQ(all[i].newsletter, rows[i].newsletter);
        EXPECT_EQ(minutesAfter(start, all[i].date), rows[i].offset);
    }
    EXPECT_GE(all[4].date, QDateTime(QDate(2011, 3, 1), QTime(0, 0)));
    EXPECT_EQ(all[3].to, all[3].to.substr(0, all[3].to.find('<')));  // a bare name, no address
}

TEST(DemoFiller, MonthRulesAndOrder) {
    const auto all = DemoFiller::messages(kNow);
    const int Y = 2026;
    std::set<std::string> events = {"Menu tasting", "Flowers — final", "RSVP list", "Speech draft"};
    for (size_t i = 0; i < all.size(); ++i) {
        const auto& m = all[i];
        const QDate d = m.date.date();
        if (i) {
            ASSERT_LE(all[i - 1].date, m.date);
        }
        ASSERT_FALSE(d.year() == Y - 15 && d.month() == 1);
        ASSERT_GE(d, QDate(Y - 15, 2, 1));
        if (m.account == "Studio") {
            ASSERT_GE(d, QDate(Y - 9, 1, 1)) << m.subject;
        }
        const bool isEvent = events.count(m.subject) || m.subject.rfind("Seating plan v", 0) == 0;
        if (isEvent) {
            // Event subjects are drawn only in April to June seven years back,
            // and a message may fall up to four weeks after its month start.
            ASSERT_TRUE(d >= QDate(Y - 7, 4, 1) && d < QDate(Y - 7, 7, 29)) << d.toString().toStdString();
        }
    }
    EXPECT_LT(all.back().date, kNow.addDays(-40).addDays(28));
    // The event months and the busy September stand out from their neighbours.
    auto personalIn = [&](int y, int month) {
        const QDateTime a(QDate(y, month, 1), QTime(0, 0));
        const QDateTime b = a.addMonths(1);
        int n = 0;
        // Messages of a month may spill into the next, so count by the
        // month they were made for: up to 27 days 23 hours after its start.
        for (const auto& m : all)
            if (m.account == "Personal" && m.date >= a.addSecs(3600) && m.date < b) ++n;
        return n;
    };
    EXPECT_GT(personalIn(Y - 7, 5), personalIn(Y - 7, 3) + 10);
    EXPECT_GT(personalIn(Y - 5, 9), personalIn(Y - 5, 8) + 7);
    // The same day gives the same list.
    const auto again = DemoFiller::messages(kNow.addSecs(3600));
    ASSERT_EQ(again.size(), all.size());
    EXPECT_EQ(again[100].subject, all[100].subject);
}

TEST(DemoFiller, EveryMessageParsesToItsSubjectAndSender) {
    const auto all = DemoFiller::messages(kNow);
    for (const auto& m : all) {
        const auto parsed = bx::MIMEParser::parse(str(m.eml()));
        ASSERT_EQ(parsed.subject, m.subject);
        ASSERT_EQ(parsed.from.size(), 1u);
        ASSERT_EQ(parsed.from[0].email, m.fromEmail);
        if (m.newsletter) {
            ASSERT_TRUE(parsed.htmlBody.has_value());
            ASSERT_NE(parsed.htmlBody->find("/i/open.gif?u="), std::string::npos);
        } else {
            ASSERT_EQ(QString::fromStdString(parsed.textBody.value_or("")).trimmed().toStdString(), m.body);
        }
    }
}

TEST(DemoFiller, DomainRules) {
    const std::pair<const char*, const char*> rows[] = {
        {"a@b.se", "b.se"}, {"b.se", "b.se"}, {"a@b@c.se", "c.se"}, {"a@", "a"}, {"", "mail.invalid"},
        {"@@", "mail.invalid"},
    };
    for (auto [in, want] : rows) EXPECT_EQ(bx::demo::senderDomain(in), want) << in;
}

TEST(DemoMail, RowsThroughTheRecordAndSafetyCode) {
    const auto& all = DemoMail::all();
    ASSERT_EQ(all.size(), 26u);
    int newCount = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        const auto& m = all[i];
        newCount += m.isNew;
        const std::string data = str(m.eml(kNow.addSecs(-static_cast<qint64>(m.daysAgo * 86400))));
        const auto parsed = bx::MIMEParser::parse(data);
        EXPECT_EQ(parsed.subject, m.subject);
        ASSERT_EQ(parsed.fileAttachmentCount(), m.attachments.size());
        const auto files = parsed.fileAttachments();
        for (size_t a = 0; a < files.size(); ++a) {
            EXPECT_EQ(files[a].filename, m.attachments[a].name);
            EXPECT_EQ(files[a].data, str(DemoMail::attachmentContent(m.attachments[a].size)));
        }
        const auto rec = bx::SearchIndex::makeRecord(data, m.account + "/" + m.folder + "/x.eml", 0).first;
        const bool phishing = i == 3 || i == 7;
        EXPECT_EQ(rec.trust == bx::SenderTrust::failed, phishing);
        EXPECT_EQ(rec.replyToMismatch, i == 3);
        EXPECT_EQ(rec.linkWarnings > 0, phishing);
        EXPECT_EQ(rec.isSuspicious(), phishing);
        if (m.kind == DemoMail::Kind::newsletter) {
            EXPECT_EQ(rec.trackers, 2);
            EXPECT_GE(rec.remoteImages, 3);
        }
        if (m.attachments.empty()) {
            EXPECT_EQ(parsed.root.contentType.mimeType(), "multipart/alternative");
        }
    }
    EXPECT_EQ(newCount, 6);
}

TEST(DemoMail, PlainHTMLKeepsBlankLinesAsBreaks) {
    DemoMail m = DemoMail::all()[0];
    m.text = "Hi\n\nBye";
    const auto parsed = bx::MIMEParser::parse(str(m.eml(kNow)));
    EXPECT_NE(parsed.htmlBody->find("<p style=\"margin:0 0 4px\">Hi</p><br><p style=\"margin:0 0 4px\">Bye</p>"),
              std::string::npos);
}

namespace {

struct TempHome {
    QTemporaryDir dir;
    QByteArray old = qgetenv("TMPDIR");
    TempHome() { qputenv("TMPDIR", dir.path().toUtf8()); }
    ~TempHome() { qputenv("TMPDIR", old); }
};

std::map<std::string, bx::FolderState> foldersOf(const fs::path& root, const char* id) {
    const bx::ArchiveLayout layout(root);
    return layout.loadSync(*bx::UUID::parse(id)).folders;
}

}  // namespace

TEST(DemoVault, WritesFilesAndTheStateABackupWouldLeave) {
    TempHome tmp;
    const fs::path stray = DemoMode::archiveRoot() / "stray.txt";
    fs::create_directories(stray.parent_path());
    std::ofstream(stray) << "left over";

    const fs::path root = DemoMode::prepareArchive(kNow);
    EXPECT_EQ(root, DemoMode::archiveRoot());
    EXPECT_FALSE(fs::exists(stray));
    EXPECT_TRUE(DemoMode::pending.empty());
    EXPECT_FALSE(fs::exists(root / ".brindlebox" / "index.json"));
    EXPECT_FALSE(fs::exists(root / ".brindlebox" / "filters.json"));

    const auto accounts = bx::decodeJSON<std::vector<bx::MailAccount>>(
        bx::parseJSON(*bx::readFile(root / ".brindlebox" / "accounts.json")));
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].label, "Personal");
    EXPECT_EQ(accounts[0].id.string(), DemoMode::personalID);
    EXPECT_EQ(accounts[1].id.string(), DemoMode::studioID);
    EXPECT_EQ(accounts[1].server.port, 993);
    const auto ago = std::chrono::system_clock::now() - *accounts[0].lastBackup;
    EXPECT_NEAR(std::chrono::duration<double>(ago).count(), 7200, 60);

    std::map<std::string, std::string> featuredUIDs;  // subject -> uid
    for (const auto* id : {DemoMode::personalID, DemoMode::studioID}) {
        for (const auto& [mailbox, state] : foldersOf(root, id)) {
            SCOPED_TRACE(state.directory);
            ASSERT_TRUE(state.sizes.has_value());
            EXPECT_EQ(state.files.count("101"), 1u);
            EXPECT_EQ(state.files.count("104"), 1u);
            std::uint32_t highest = 0;
            for (const auto& [uid, rel] : state.files) highest = std::max<std::uint32_t>(highest, std::stoul(uid));
            EXPECT_EQ(state.highestUID, highest);
            size_t onDisk = 0;
            for (const auto& e : fs::recursive_directory_iterator(root / state.directory))
                onDisk += e.path().extension() == ".eml";
            EXPECT_EQ(onDisk, state.files.size());
            EXPECT_EQ(state.sizes->size(), state.files.size());
            for (const auto& [uid, rel] : state.files) {
                ASSERT_EQ(fs::file_size(root / rel), static_cast<uintmax_t>(state.sizes->at(uid))) << rel;
            }
        }
    }
    const auto personal = foldersOf(root, DemoMode::personalID);
    EXPECT_TRUE(personal.count("Sent Messages"));
    EXPECT_FALSE(personal.count("Sent"));
    EXPECT_TRUE(foldersOf(root, DemoMode::studioID).count("Sent"));
    const std::string first = personal.at("INBOX").files.at("101");
    EXPECT_NE(first.find("Meter reading reminder"), std::string::npos);
    EXPECT_NE(personal.at("Sent Messages").files.at("101").find("Climbing on Thursday"), std::string::npos);

    // Filler files carry their header date; featured files the time of writing
    // and the highest UIDs of their folder.
    struct stat st {};
    ASSERT_EQ(::stat((root / first).c_str(), &st), 0);
    const auto parsed = bx::MIMEParser::parse(*bx::readFile(root / first));
    EXPECT_EQ(st.st_mtime, bx::secondsSince1970(*parsed.date));
    const auto& inbox = personal.at("INBOX");
    const std::string newest = inbox.files.at(std::to_string(inbox.highestUID));
    EXPECT_NE(newest.find("Dinner on Friday"), std::string::npos);
    ASSERT_EQ(::stat((root / newest).c_str(), &st), 0);
    EXPECT_NEAR(static_cast<double>(st.st_mtime), static_cast<double>(::time(nullptr)), 120);
}

TEST(DemoVault, NeverFollowsALinkAtTheDemoPathAndAlwaysReturns) {
    TempHome tmp;
    QTemporaryDir outside;
    const fs::path canary = fs::path(outside.path().toStdString()) / "canary.txt";
    std::ofstream(canary) << "keep me";
    const fs::path root = DemoMode::archiveRoot();
    fs::create_directories(root.parent_path());
    fs::create_directory_symlink(outside.path().toStdString(), root);
    EXPECT_EQ(DemoMode::prepareArchive(kNow), root);
    EXPECT_TRUE(fs::exists(canary));
    EXPECT_FALSE(fs::is_symlink(root));

    // A private folder that is not ours is never used; the call still returns.
    TempHome other;
    const fs::path priv = fs::path(other.dir.path().toStdString()) / ("brindlebox-" + std::to_string(::getuid()));
    fs::create_directory_symlink(outside.path().toStdString(), priv);
    const fs::path r = DemoMode::prepareArchive(kNow);
    EXPECT_FALSE(r.empty());
    EXPECT_TRUE(fs::exists(canary));
    EXPECT_FALSE(fs::exists(fs::path(outside.path().toStdString()) / "Brindlebox-demo-archive"));
}

TEST(DemoVault, ASecondRunRestoresEveryFileAndNeverWritesThroughALink) {
    TempHome tmp;
    const fs::path root = DemoMode::prepareArchive(kNow);
    const auto inbox = foldersOf(root, DemoMode::personalID).at("INBOX");
    const fs::path linked = root / inbox.files.at("101");
    const fs::path edited = root / inbox.files.at("104");
    const fs::path folderLink = root / "Studio" / "Sent";
    const std::string original = *bx::readFile(edited);

    QTemporaryDir outside;
    const fs::path canary = fs::path(outside.path().toStdString()) / "canary.eml";
    std::ofstream(canary) << "keep me";
    fs::remove(linked);
    fs::create_symlink(canary, linked);
    std::ofstream(edited, std::ios::trunc) << "changed by someone";
    fs::remove_all(folderLink);
    fs::create_directory_symlink(outside.path().toStdString(), folderLink);

    EXPECT_EQ(DemoMode::prepareArchive(kNow), root);
    EXPECT_EQ(*bx::readFile(canary), "keep me");
    EXPECT_EQ(fs::directory_iterator(outside.path().toStdString())->path(), canary);
    EXPECT_FALSE(fs::is_symlink(linked));
    EXPECT_FALSE(fs::is_symlink(folderLink));
    EXPECT_EQ(*bx::readFile(edited), original);
    for (const auto* id : {DemoMode::personalID, DemoMode::studioID})
        for (const auto& [mailbox, state] : foldersOf(root, id))
            for (const auto& [uid, rel] : state.files)
                ASSERT_EQ(fs::file_size(root / rel), static_cast<uintmax_t>(state.sizes->at(uid))) << rel;
    // Re-dated as the first run left them.
    struct stat st {};
    ASSERT_EQ(::stat(linked.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, bx::secondsSince1970(*bx::MIMEParser::parse(*bx::readFile(linked)).date));
}
