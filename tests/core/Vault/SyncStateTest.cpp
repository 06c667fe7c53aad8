#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <fstream>
#include <sstream>
#include <map>
#include <optional>

#include "Util/Json.h"
#include "Vault/AccountSyncState.h"
#include "Vault/ArchiveLayout.h"
#include "Vault/MailAccount.h"
#include "Vault/SyncStateCodec.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using bx::AccountSyncState;
using bx::ArchiveLayout;
using bx::FolderState;

namespace {

const bx::UUID kAccount = *bx::UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");

AccountSyncState sample() {
    AccountSyncState s;
    FolderState inbox("INBOX", "Work/INBOX", 1700000000);
    inbox.highestUID = 4294967295u;
    inbox.files = {{"1", "Work/INBOX/2024/2024-01-01 \"Quoted\" \\ back\tslash 1.eml"},
                   {"4294967295", "Work/INBOX/2024/2024-01-02 Caf\xC3\xA9 \x01 4294967295.eml"}};
    inbox.lastRun = *bx::parseISO8601("2024-05-01T12:00:00Z");
    inbox.sizes = std::map<std::string, std::int64_t>{{"1", 12}, {"4294967295", 9000000000LL}};
    s.folders["INBOX"] = inbox;
    s.folders["Entw&APw-rfe"] = FolderState("Entw&APw-rfe", "Work/Entw\xC3\xBCrfe", 0);
    return s;
}

}  // namespace

TEST(SyncState, RoundTripsThroughTheFile) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir / "vault");
    const auto state = sample();
    layout.saveSync(state, kAccount);  // creates the state folder
    EXPECT_TRUE(fs::exists(layout.syncURL(kAccount)));
    EXPECT_EQ(layout.loadSync(kAccount), state);

    // The text is ordinary JSON with the documented keys; absent values leave
    // their keys out.
    const auto doc = bx::parseJSON(dir.read(layout.syncURL(kAccount)));
    const auto& inbox = doc["folders"]["INBOX"];
    EXPECT_EQ(inbox["highestUID"], 4294967295u);
    EXPECT_EQ(inbox["lastRun"], "2024-05-01T12:00:00Z");
    EXPECT_EQ(inbox["sizes"]["4294967295"], 9000000000LL);
    const auto& drafts = doc["folders"]["Entw&APw-rfe"];
    EXPECT_FALSE(drafts.contains("lastRun"));
    EXPECT_FALSE(drafts.contains("sizes"));
    EXPECT_EQ(drafts["files"], bx::json::object());
}

TEST(SyncState, BrokenFilesLoadAsEmpty) {
    const char* broken[] = {
        "",
        "{not json",
        "[]",
        R"({"other": {}})",
        R"({"folders": {"INBOX": {"mailbox": "INBOX", "directory": "A/INBOX", "uidValidity": 1.5, "highestUID": 0, "files": {}}}})",
        R"({"folders": {"INBOX": {"mailbox": "INBOX", "directory": "A/INBOX", "uidValidity": -1, "highestUID": 0, "files": {}}}})",
        R"({"folders": {"INBOX": {"mailbox": "INBOX", "directory": "A/INBOX", "uidValidity": 1, "files": {}}}})",
        R"({"folders": {"INBOX": {"mailbox": "INBOX", "directory": "A/INBOX", "uidValidity": 1, "highestUID": 0, "files": {"1": 5}}}})",
        R"({"folders": {"INBOX": {"mailbox": "INBOX", "directory": "A/INBOX", "uidValidity": 1, "highestUID": 0, "files": {}, "lastRun": "yesterday"}}})",
    };
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    for (const char* text : broken) {
        dir.write(layout.syncURL(kAccount), text);
        EXPECT_TRUE(layout.loadSync(kAccount).folders.empty()) << text;
    }
    fs::remove(layout.syncURL(kAccount));
    EXPECT_TRUE(layout.loadSync(kAccount).folders.empty());
}

TEST(SyncState, OptionalKeysMayBeMissingAndUnknownKeysAreIgnored) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    dir.write(layout.syncURL(kAccount),
              R"({"folders": {"INBOX": {"mailbox": "INBOX", "directory": "A/INBOX", "uidValidity": 7,
                  "highestUID": 3, "files": {"3": "A/INBOX/2024/x 3.eml"}, "extra": true}}, "v": 2})");
    const auto s = layout.loadSync(kAccount);
    ASSERT_EQ(s.folders.count("INBOX"), 1u);
    const auto& f = s.folders.at("INBOX");
    EXPECT_EQ(f.uidValidity, 7u);
    EXPECT_EQ(f.highestUID, 3u);
    EXPECT_FALSE(f.lastRun.has_value());
    EXPECT_FALSE(f.sizes.has_value());
    EXPECT_EQ(f.files.at("3"), "A/INBOX/2024/x 3.eml");
}

// A tampered sync file must not steer writes or reads outside the vault: a
// folder whose directory leaves it is forgotten (the next backup starts that
// folder afresh in its proper place), and so is any file entry that does.
TEST(SyncState, PathsLeavingTheVaultAreDropped) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    dir.write(layout.syncURL(kAccount), R"({"folders": {
        "INBOX": {"mailbox": "INBOX", "directory": "../../etc", "uidValidity": 7, "highestUID": 3, "files": {}},
        "Sent": {"mailbox": "Sent", "directory": "A/Sent", "uidValidity": 7, "highestUID": 3,
                 "files": {"1": "/etc/passwd", "2": "A/Sent/../../x.eml", "3": "A/Sent/2024/ok 3.eml", "4": ""}},
        "Abs": {"mailbox": "Abs", "directory": "/tmp", "uidValidity": 1, "highestUID": 0, "files": {}}}})");
    const auto s = layout.loadSync(kAccount);
    EXPECT_EQ(s.folders.count("INBOX"), 0u);
    EXPECT_EQ(s.folders.count("Abs"), 0u);
    ASSERT_EQ(s.folders.count("Sent"), 1u);
    EXPECT_EQ(s.folders.at("Sent").files, (std::map<std::string, std::string>{{"3", "A/Sent/2024/ok 3.eml"}}));
}

TEST(SyncState, SaveReplacesWholeAndLeavesNoTempFiles) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    auto state = sample();
    layout.saveSync(state, kAccount);
    state.folders.erase("INBOX");
    layout.saveSync(state, kAccount);
    EXPECT_EQ(layout.loadSync(kAccount), state);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(layout.metaDirectory())) ++entries;
    EXPECT_EQ(entries, 1);
}

// The journal a backup appends between two saves of the sync file: what a
// loader sees is the file with every complete line applied in order.
TEST(SyncState, JournalAddsToTheFileUntilTheNextSave) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    AccountSyncState saved;
    FolderState inbox("INBOX", "Work/INBOX", 7);
    inbox.highestUID = 2;
    inbox.files = {{"1", "Work/INBOX/2024/a 1.eml"}, {"2", "Work/INBOX/2024/b 2.eml"}};
    inbox.sizes = std::map<std::string, std::int64_t>{{"1", 10}, {"2", 20}};
    saved.folders["INBOX"] = inbox;
    saved.folders["Old"] = FolderState("Old", "Work/Old", 3);
    layout.saveSync(saved, kAccount);

    const std::string journal =
        // a batch of INBOX
        R"({"mailbox":"INBOX","directory":"Work/INBOX","uidValidity":7,"highestUID":4,)"
        R"("files":{"3":"Work/INBOX/2024/c 3.eml","4":"Work/INBOX/2024/d 4.eml"},"sizes":{"3":30,"4":40}})" "\n"
        // not JSON: skipped
        "{\"mailbox\":\n"
        // an older mark never lowers the folder's; a path leaving the vault is dropped
        R"({"mailbox":"INBOX","directory":"Work/INBOX","uidValidity":7,"highestUID":1,)"
        R"("files":{"5":"../outside 5.eml"},"sizes":{"5":50}})" "\n"
        // a renumbered folder starts afresh
        R"({"mailbox":"Old","directory":"Work/Old","uidValidity":4,"highestUID":9,)"
        R"("files":{"9":"Work/Old/2024/e 9.eml"},"sizes":{"9":90}})" "\n"
        // a new folder; the line after it was cut short by a kill
        R"({"mailbox":"New","directory":"Work/New","uidValidity":1,"highestUID":1,)"
        R"("files":{"1":"Work/New/2024/f 1.eml"},"sizes":{"1":11}})" "\n"
        R"({"mailbox":"INBOX","directory":"Work/INBOX","uidValidity":7,"highestUID":6,"files":{"6":"Wo)";
    dir.write(".brindlebox/" + layout.syncJournalURL(kAccount).filename().string(), journal);

    AccountSyncState expected = saved;
    auto& in = expected.folders.at("INBOX");
    in.highestUID = 4;
    in.files["3"] = "Work/INBOX/2024/c 3.eml";
    in.files["4"] = "Work/INBOX/2024/d 4.eml";
    (*in.sizes)["3"] = 30;
    (*in.sizes)["4"] = 40;
    (*in.sizes)["5"] = 50;
    FolderState old("Old", "Work/Old", 4);
    old.highestUID = 9;
    old.files["9"] = "Work/Old/2024/e 9.eml";
    old.sizes = std::map<std::string, std::int64_t>{{"9", 90}};
    expected.folders["Old"] = old;
    FolderState added("New", "Work/New", 1);
    added.highestUID = 1;
    added.files["1"] = "Work/New/2024/f 1.eml";
    added.sizes = std::map<std::string, std::int64_t>{{"1", 11}};
    expected.folders["New"] = added;
    EXPECT_EQ(layout.loadSync(kAccount), expected);

    // Lines appended later start on a line of their own; the cut piece is gone.
    bx::MailAccount account(kAccount, "Work", "u", bx::IMAPServer("h", 993, false), "custom", {}, {});
    layout.appendSyncJournal(
        R"({"mailbox":"New","directory":"Work/New","uidValidity":1,"highestUID":2,)"
        R"("files":{"2":"Work/New/2024/g 2.eml"},"sizes":{"2":22}})" "\n",
        account);
    expected.folders.at("New").highestUID = 2;
    expected.folders.at("New").files["2"] = "Work/New/2024/g 2.eml";
    (*expected.folders.at("New").sizes)["2"] = 22;
    const auto loaded = layout.loadSync(kAccount);
    EXPECT_EQ(loaded, expected);

    // A save holds it all and the journal goes.
    layout.saveSync(loaded, kAccount);
    EXPECT_FALSE(fs::exists(layout.syncJournalURL(kAccount)));
    EXPECT_EQ(layout.loadSync(kAccount), expected);
}

// Sync files are decoded without a document tree, strictly: each text
// either gives exactly these states or is refused whole.
TEST(SyncState, StrictDecoding) {
    const std::string ok = R"("mailbox":"INBOX","directory":"A/INBOX","uidValidity":7,"highestUID":3,"files":{"3":"A/INBOX/x 3.eml"})";
    auto folder = [](const std::string& members) { return R"({"folders":{"INBOX":{)" + members + "}}}"; };
    auto okState = [] {
        FolderState f("INBOX", "A/INBOX", 7);
        f.highestUID = 3;
        f.files = {{"3", "A/INBOX/x 3.eml"}};
        return f;
    };
    using Folders = std::map<std::string, FolderState>;
    FolderState dated = okState();
    dated.lastRun = *bx::parseISO8601("2024-05-01T12:00:00Z");
    dated.sizes = std::map<std::string, std::int64_t>{{"3", 9000000000LL}};
    FolderState noFiles = okState();
    noFiles.files.clear();
    FolderState repeated = okState();
    repeated.files = {{"4", "A/INBOX/y 4.eml"}};
    struct Row {
        std::string text;
        std::optional<Folders> expected;  // nullopt: refused
    };
    const Row rows[] = {
        {folder(ok), Folders{{"INBOX", okState()}}},
        {folder(ok + R"(,"lastRun":"2024-05-01T12:00:00Z","sizes":{"3":9000000000})"), Folders{{"INBOX", dated}}},
        {folder(ok + R"(,"lastRun":null,"sizes":null)"), Folders{{"INBOX", okState()}}},
        {folder(ok + R"(,"extra":{"deep":[1,{"x":[]}],"n":null},"more":[[]],"flag":true)"), Folders{{"INBOX", okState()}}},
        {folder(R"("mailbox":"INBOX","directory":"A/INBOX","uidValidity":7.0,"highestUID":3e0,"files":{})"),
         Folders{{"INBOX", noFiles}}},
        {folder(ok + R"(,"files":{"4":"A/INBOX/y 4.eml"})"), Folders{{"INBOX", repeated}}},  // the last counts
        {R"({"v":[1,2,{"folders":3}],"folders":{},"w":{"folders":null}})", Folders{}},
        {R"({"folders":{"A":)" + std::string("{") + ok + R"(},"B":{)" + ok + "}}}",
         Folders{{"A", okState()}, {"B", okState()}}},
        {R"({"folders":{"INBOX":{)" + ok + R"(}},"folders":{}})", Folders{}},
        // refused
        {"", std::nullopt}, {"[]", std::nullopt}, {"3", std::nullopt}, {"{\"folders\":null}", std::nullopt},
        {"{\"folders\":[]}", std::nullopt}, {"{\"folders\":{\"INBOX\":[]}}", std::nullopt},
        {"{\"folders\":{\"INBOX\":null}}", std::nullopt}, {"{\"other\":{}}", std::nullopt},
        {"{\"folders\":{}} x", std::nullopt},
        {folder(R"("mailbox":"INBOX","directory":"A/INBOX","uidValidity":7,"files":{})"), std::nullopt},
        {folder(R"("mailbox":"INBOX","directory":"A/INBOX","uidValidity":7,"highestUID":null,"files":{})"), std::nullopt},
        {folder(R"("mailbox":"INBOX","directory":"A/INBOX","uidValidity":4294967296,"highestUID":1,"files":{})"), std::nullopt},
        {folder(R"("mailbox":"INBOX","directory":"A/INBOX","uidValidity":-1,"highestUID":1,"files":{})"), std::nullopt},
        {folder(R"("mailbox":"INBOX","directory":"A/INBOX","uidValidity":1.5,"highestUID":1,"files":{})"), std::nullopt},
        {folder(R"("mailbox":3,"directory":"A/INBOX","uidValidity":1,"highestUID":1,"files":{})"), std::nullopt},
        {folder(R"("mailbox":{},"directory":"A/INBOX","uidValidity":1,"highestUID":1,"files":{})"), std::nullopt},
        {folder(R"("mailbox":"INBOX","directory":"A/INBOX","uidValidity":1,"highestUID":1,"files":[])"), std::nullopt},
        {folder(R"("mailbox":"INBOX","directory":"A/INBOX","uidValidity":1,"highestUID":1,"files":"x")"), std::nullopt},
        {folder(ok + R"(,"files":{"1":null})"), std::nullopt},
        {folder(ok + R"(,"sizes":{"1":"5"})"), std::nullopt},
        {folder(ok + R"(,"sizes":{"1":1.5})"), std::nullopt},
        {folder(ok + R"(,"sizes":{"1":9223372036854775808})"), std::nullopt},
        {folder(ok + R"(,"lastRun":"yesterday")"), std::nullopt},
        {folder(ok + R"(,"lastRun":5)"), std::nullopt},
    };
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    for (const auto& row : rows) {
        std::optional<AccountSyncState> decoded;
        try {
            decoded = AccountSyncState::fromJSON(row.text);
        } catch (const bx::JSONDecodeError&) {
        }
        ASSERT_EQ(decoded.has_value(), row.expected.has_value()) << row.text;
        if (decoded) EXPECT_EQ(decoded->folders, *row.expected) << row.text;
        // The loader reads the file the same way; a refused file is the empty state.
        dir.write(layout.syncURL(kAccount), row.text);
        EXPECT_EQ(layout.loadSync(kAccount).folders, row.expected.value_or(Folders{})) << row.text;
    }
}

// Keys that are not a UID's plain decimal text survive a load and a save,
// beside the ordinary ones, whatever order the file gives them in.
TEST(SyncState, EveryKeyRoundTrips) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    AccountSyncState state;
    FolderState f("INBOX", "A/INBOX", 7);
    f.highestUID = 100;
    for (int uid : {100, 9, 10, 1, 99, 4294967}) f.files[std::to_string(uid)] = "A/INBOX/m " + std::to_string(uid) + ".eml";
    f.files["007"] = "A/INBOX/seven.eml";
    f.files["x"] = "A/INBOX/x.eml";
    f.sizes = std::map<std::string, std::int64_t>{{"9", -1}, {"10", 0}, {"+5", 5}, {"4294967296", 6}, {"77", 77}};
    state.folders["INBOX"] = f;
    layout.saveSync(state, kAccount);
    EXPECT_EQ(layout.loadSync(kAccount), state);
    EXPECT_EQ(AccountSyncState::fromJSON(state.toJSON()), state);
}

// A large folder is written in pieces; what is read back is the whole state.
TEST(SyncState, LargeFolderRoundTripsThroughPieces) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    AccountSyncState state;
    for (const char* name : {"Archive", "INBOX"}) {
        FolderState f(name, std::string("Work/") + name, 9);
        f.sizes.emplace();
        for (std::uint32_t uid = 1; uid <= 20000; ++uid) {
            const std::string key = std::to_string(uid * 7);
            f.files[key] = f.directory + "/2024/2024-01-01 Message \"" + key + "\" " + key + ".eml";
            (*f.sizes)[key] = uid * 1000;
        }
        f.highestUID = 140000;
        state.folders[name] = f;
    }
    layout.saveSync(state, kAccount);
    EXPECT_GT(fs::file_size(layout.syncURL(kAccount)), 4u * 65536u);
    EXPECT_EQ(layout.loadSync(kAccount), state);
}

TEST(SyncState, FileNamesTheLoginItWasFetchedFrom) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir / "vault");
    const bx::MailAccount account(kAccount, "Work", "ann@example.com", bx::IMAPServer("Mail.Example.com", 993, false),
                                  "custom", {"INBOX"}, {});
    const auto state = sample();
    layout.saveSync(state, account);
    EXPECT_EQ(layout.loadSync(kAccount), state);

    std::ifstream in(layout.syncURL(kAccount), std::ios::binary);
    const auto owner = bx::readSyncOwner(in);
    ASSERT_TRUE(owner);
    EXPECT_EQ(*owner, (bx::SyncOwner{"Mail.Example.com", 993, "ann@example.com"}));
    EXPECT_TRUE(owner->matches({"mail.example.COM", 993, "ann@example.com"}));
    EXPECT_FALSE(owner->matches({"mail.example.com", 143, "ann@example.com"}));
    EXPECT_FALSE(owner->matches({"mail.example.com", 993, "Ann@example.com"}));

    // Files written by id alone, and files that are not sync files, name nobody.
    const std::pair<const char*, std::string> nameless[] = {
        {"by id", (layout.saveSync(state, kAccount), dir.read(layout.syncURL(kAccount)))},
        {"not JSON", "{\"account\":"},
        {"no port", R"({"account":{"host":"h","username":"u"},"folders":{}})"},
        {"port out of range", R"({"account":{"host":"h","port":70000,"username":"u"},"folders":{}})"},
        {"account not an object", R"({"account":"ann","folders":{}})"},
    };
    for (const auto& [what, text] : nameless) {
        std::istringstream stream(text);
        EXPECT_FALSE(bx::readSyncOwner(stream)) << what;
    }
}

namespace {

std::optional<AccountSyncState> readAny(const std::string& text) {
    try {
        return AccountSyncState::from(bx::decodeAnySyncFile(text));
    } catch (const bx::JSONDecodeError&) {
        return std::nullopt;
    }
}

// The written-form reader fed `piece` bytes at a time.
std::optional<AccountSyncState> readWrittenInPieces(const std::string& text, std::size_t piece) {
    std::size_t at = 0;
    const std::function<std::size_t(char*, std::size_t)> read = [&](char* buffer, std::size_t capacity) {
        const std::size_t n = std::min({piece, capacity, text.size() - at});
        std::memcpy(buffer, text.data() + at, n);
        at += n;
        return n;
    };
    const auto folders = bx::decodeWrittenSyncFile(read);
    if (!folders) return std::nullopt;
    return AccountSyncState::from(*folders);
}

std::string written(const AccountSyncState& state, const bx::SyncOwner* owner = nullptr) {
    std::string out;
    bx::writeSyncFile(state.compact(), [&](std::string_view piece) { out += piece; }, owner);
    return out;
}

}  // namespace

// What the writer wrote is read by hand, and must come out as the general
// reader reads it; any other text is left to the general reader, whatever
// it makes of it.
TEST(SyncState, TheWrittenFormReaderReadsAsTheGeneralReaderDoes) {
    const bx::SyncOwner owner{"mail.example.com", 993, "ann \"the\" user\\\x01"};
    AccountSyncState keys;
    FolderState odd("INBOX", "A/INBOX", 7);
    odd.highestUID = 100;
    odd.files = {{"1", "A/INBOX/a 1.eml"}, {"007", "A/INBOX/seven.eml"}, {"x", "A/INBOX/x.eml"},
                 {"4294967296", "A/INBOX/big.eml"}};
    odd.sizes = std::map<std::string, std::int64_t>{
        {"1", 0}, {"9", -1}, {"+5", 5}, {"77", std::numeric_limits<std::int64_t>::min()},
        {"78", std::numeric_limits<std::int64_t>::max()}};
    keys.folders["INBOX"] = odd;
    AccountSyncState emptyLists;
    FolderState bare("Sent", "A/Sent", 4294967295u);
    bare.sizes.emplace();
    emptyLists.folders["Sent"] = bare;
    FolderState datedOnly("Drafts", "A/Drafts", 3);
    datedOnly.lastRun = *bx::parseISO8601("2024-05-01T12:00:00Z");
    emptyLists.folders["Drafts"] = datedOnly;

    const std::string inbox = R"("INBOX":{"mailbox":"INBOX","directory":"A/INBOX","uidValidity":7,"highestUID":3,)";
    struct Row {
        const char* what;
        std::string text;
        bool handRead;  // the written-form reader reads it
    };
    const Row rows[] = {
        {"escapes and unicode", written(sample()), true},
        {"the account entry", written(sample(), &owner), true},
        {"odd keys and extreme sizes", written(keys), true},
        {"empty lists", written(emptyLists), true},
        {"no folders", written(AccountSyncState()), true},
        {"every escape", R"({"folders":{)" + inbox +
             R"("files":{"3":"A\/INBOX\/\u00e9\u20AC\t\"\\ \b\f\n\r 3.eml"}}}})", true},
        {"raw UTF-8", "{\"folders\":{\"Entw\xC3\xBC" "rfe\":{\"mailbox\":\"Entw\xC3\xBC" "rfe\",\"directory\":\"A/\xE2\x82\xAC\","
                      "\"uidValidity\":1,\"highestUID\":0,\"files\":{}}}}", true},
        {"a path leaving the vault", R"({"folders":{)" + inbox + R"("files":{"1":"../x 1.eml","3":"A/INBOX/y 3.eml"}},)" +
             R"("Out":{"mailbox":"Out","directory":"/etc","uidValidity":1,"highestUID":0,"files":{}}}})", true},
        {"a folder named twice", R"({"folders":{)" + inbox + R"("files":{}},)" + inbox + R"("files":{"3":"A/x 3.eml"}}}})",
         true},
        {"UIDs out of order and twice", R"({"folders":{)" + inbox +
             R"("files":{"9":"A/n 9.eml","10":"A/t 10.eml","9":"A/m 9.eml"},"sizes":{"10":1,"9":2,"10":3}}}})", true},
        // left to the general reader
        {"spaces", R"({ "folders": {} })", false},
        {"a line end after", written(sample()) + "\n", false},
        {"keys in another order", R"({"folders":{"INBOX":{"directory":"A/INBOX","mailbox":"INBOX","uidValidity":7,)"
                                  R"("highestUID":3,"files":{}}}})", false},
        {"an unknown key", R"({"folders":{)" + inbox + R"("files":{},"extra":true}}})", false},
        {"a null", R"({"folders":{)" + inbox + R"("files":{},"lastRun":null}}})", false},
        {"a fraction", R"({"folders":{"INBOX":{"mailbox":"INBOX","directory":"A/INBOX","uidValidity":7.0,)"
                       R"("highestUID":3,"files":{}}}})", false},
        {"an exponent size", R"({"folders":{)" + inbox + R"("files":{},"sizes":{"3":1e3}}}})", false},
        {"a leading zero", R"({"folders":{)" + inbox + R"("files":{},"sizes":{"3":012}}}})", false},
        {"a surrogate pair", R"({"folders":{)" + inbox + R"("files":{"3":"A/\ud83d\ude00 3.eml"}}}})", false},
        {"another top-level key", R"({"v":2,"folders":{}})", false},
        {"the account after the folders", R"({"folders":{},"account":{"host":"h","port":1,"username":"u"}})", false},
        {"cut short", written(sample()).substr(0, 120), false},
        {"cut at the last brace", written(sample()).substr(0, written(sample()).size() - 1), false},
        {"invalid UTF-8", "{\"folders\":{" + inbox + "\"files\":{\"3\":\"A/\xFF 3.eml\"}}}}", false},
        {"an encoded surrogate", "{\"folders\":{" + inbox + "\"files\":{\"3\":\"A/\xED\xA0\x80 3.eml\"}}}}", false},
        {"a raw control character", "{\"folders\":{" + inbox + "\"files\":{\"3\":\"A/\x01 3.eml\"}}}}", false},
        {"a UID out of range", R"({"folders":{"INBOX":{"mailbox":"INBOX","directory":"A/INBOX","uidValidity":4294967296,)"
                               R"("highestUID":3,"files":{}}}})", false},
        {"a size out of range", R"({"folders":{)" + inbox + R"("files":{},"sizes":{"3":9223372036854775808}}}})", false},
        {"not a date", R"({"folders":{)" + inbox + R"("files":{},"lastRun":"yesterday"}}})", false},
    };
    for (const auto& row : rows) {
        const auto any = readAny(row.text);
        const auto hand = bx::decodeWrittenSyncFile(row.text);
        ASSERT_EQ(hand.has_value(), row.handRead) << row.what;
        if (hand) {
            ASSERT_TRUE(any) << row.what;
            EXPECT_EQ(AccountSyncState::from(*hand), *any) << row.what;
        }
        // In pieces, a piece boundary falls inside every token somewhere.
        for (std::size_t piece : {1, 2, 3, 7, 64, 65536}) {
            const auto pieces = readWrittenInPieces(row.text, piece);
            ASSERT_EQ(pieces.has_value(), row.handRead) << row.what << ", pieces of " << piece;
            if (pieces) {
                EXPECT_EQ(*pieces, *any) << row.what << ", pieces of " << piece;
            }
        }
        // Whichever reads it, the outcome is the general reader's.
        std::optional<AccountSyncState> either;
        try {
            either = AccountSyncState::from(bx::decodeSyncFile(row.text));
        } catch (const bx::JSONDecodeError&) {
        }
        EXPECT_EQ(either, any) << row.what;
    }
    EXPECT_EQ(*readAny(written(sample())), sample());
}

// A file neither reader can read loads as no state, never as the part that
// was read before the fault, and loading it changes nothing on disk.
TEST(SyncState, AnUnreadableFileIsLeftAsItWas) {
    bx::test::TempDir dir;
    ArchiveLayout layout(dir.path());
    AccountSyncState state;
    for (const char* name : {"Archive", "INBOX", "Sent"}) {
        FolderState f(name, std::string("Work/") + name, 9);
        f.sizes.emplace();
        for (std::uint32_t uid = 1; uid <= 3000; ++uid) {
            const std::string key = std::to_string(uid);
            f.files[key] = f.directory + "/2024/2024-01-01 Message " + key + ".eml";
            (*f.sizes)[key] = uid * 10;
        }
        f.highestUID = 3000;
        state.folders[name] = f;
    }
    layout.saveSync(state, kAccount);
    const std::string whole = dir.read(layout.syncURL(kAccount));
    ASSERT_GT(whole.size(), 3u * 65536u);
    const std::size_t secondFolder = whole.find("\"INBOX\":");

    struct Row {
        const char* what;
        std::string text;
    };
    std::string badByte = whole;
    badByte[secondFolder + 70000] = '\xFF';
    std::string badNumber = whole;
    badNumber.replace(whole.find("\"sizes\":{\"1\":10", secondFolder) + 14, 1, "x");
    const Row rows[] = {
        {"cut inside the first folder", whole.substr(0, 100)},
        {"cut between two folders", whole.substr(0, secondFolder)},
        {"cut in a later piece", whole.substr(0, secondFolder + 70000)},
        {"cut before the last brace", whole.substr(0, whole.size() - 1)},
        {"a byte that is no UTF-8", badByte},
        {"a size that is no number", badNumber},
        {"emptied", ""},
    };
    const fs::path file = layout.syncURL(kAccount);
    for (const auto& row : rows) {
        dir.write(file, row.text);
        const auto before = fs::last_write_time(file);
        EXPECT_TRUE(layout.loadSync(kAccount).folders.empty()) << row.what;
        EXPECT_TRUE(layout.loadSyncFolders(kAccount).empty()) << row.what;
        EXPECT_EQ(dir.read(file), row.text) << row.what;
        EXPECT_EQ(fs::last_write_time(file), before) << row.what;
        int entries = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(layout.metaDirectory())) ++entries;
        EXPECT_EQ(entries, 1) << row.what;
    }
    // A folder where the file belongs cannot be read at all.
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_TRUE(layout.loadSync(kAccount).folders.empty());
    EXPECT_TRUE(fs::is_directory(file));
    // The whole file again reads whole.
    fs::remove(file);
    dir.write(file, whole);
    EXPECT_EQ(layout.loadSync(kAccount), state);
}
