#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "Index/IndexDecoder.h"
#include "Index/SearchIndex.h"
#include "support/TempDir.h"
#include "Util/AtomicFile.h"

using bx::MessageRecord;
using bx::SearchIndex;
using Tokens = std::vector<std::string>;

namespace {

MessageRecord rec(const std::string& path, const char* date, const std::string& subject = "") {
    MessageRecord r;
    r.path = path;
    r.subject = subject;
    r.date = *bx::parseISO8601(date);
    r.mtime = 1700000000;
    return r;
}

// `text` with the first `from` replaced by `to`; a `from` not there fails the test.
std::string replacedIn(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::vector<std::string> paths(const std::vector<MessageRecord>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.path);
    return out;
}

}  // namespace

TEST(Tokenize, Table) {
    struct Case {
        std::string text;
        Tokens tokens;
    } cases[] = {
        {"Hello, World!", {"hello", "world"}},
        {"I am OK", {"am", "ok"}},
        {"a b c", {}},
        {"", {}},
        {"Caf\u00e9 Cr\u00e8me", {"cafe", "creme"}},
        {"Cafe\u0301", {"cafe"}},  // decomposed input folds the same
        {"foo_bar-baz.qux", {"foo", "bar", "baz", "qux"}},
        {"don't", {"don"}},
        {"abc123def 2024", {"abc123def", "2024"}},
        {"re re re", {"re", "re", "re"}},
        {"STRASSE Stra\u00dfe", {"strasse", "strasse"}},
        {"\u00dcBER \u00fcber", {"uber", "uber"}},
        {"M\u00fcnchen\u2019s \u00abQuote\u00bb", {"munchen", "quote"}},
        {"\u0394\u03b9\u03ac\u03bb\u03b5\u03be\u03b7 \u65e5\u672c\u8a9e", {"\u03b4\u03b9\u03b1\u03bb\u03b5\u03be\u03b7", "\u65e5\u672c\u8a9e"}},
        {"x\u00b2 \u00bd\u00bd \u0661\u0662", {"x\u00b2", "\u00bd\u00bd", "\u0661\u0662"}},
        {"emoji \U0001F600\U0001F600 tab\there\nline", {"emoji", "tab", "here", "line"}},
        {"\xff\xfe bad bytes", {"bad", "bytes"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SearchIndex::tokenize(c.text), c.tokens) << c.text;

    const std::string fifty(50, 'w');
    EXPECT_EQ(SearchIndex::tokenize(fifty), Tokens{std::string(40, 'w')});
    // Forty characters, not forty bytes.
    std::string accented;
    for (int i = 0; i < 45; ++i) accented += "\u00e9";
    EXPECT_EQ(SearchIndex::tokenize(accented), Tokens{std::string(40, 'e')});
    std::string greek;
    for (int i = 0; i < 45; ++i) greek += "\u03bb";
    std::string greek40;
    for (int i = 0; i < 40; ++i) greek40 += "\u03bb";
    EXPECT_EQ(SearchIndex::tokenize(greek), Tokens{greek40});
}

TEST(SearchIndex, PrefixSearchNewestFirst) {
    SearchIndex index;
    index.add(rec("a/INBOX/1.eml", "2024-03-01T10:00:00Z"), "Invoice for March");
    index.add(rec("a/INBOX/2.eml", "2024-05-01T10:00:00Z"), "invoice overdue");
    index.add(rec("a/INBOX/3.eml", "2023-01-01T10:00:00Z"), "Re: invoices, marching orders");
    index.add(rec("a/INBOX/4.eml", "2024-01-01T10:00:00Z"), "Le caf\u00e9 est ferm\u00e9");
    index.add(rec("a/INBOX/5.eml", "2024-02-01T10:00:00Z"), "! ? a");

    EXPECT_EQ(paths(index.search("inv")), (std::vector<std::string>{"a/INBOX/2.eml", "a/INBOX/1.eml", "a/INBOX/3.eml"}));
    EXPECT_EQ(paths(index.search("INVOICE")), paths(index.search("invoice")));
    EXPECT_EQ(paths(index.search("inv mar")), (std::vector<std::string>{"a/INBOX/1.eml", "a/INBOX/3.eml"}));
    EXPECT_EQ(paths(index.search("invoice march")), (std::vector<std::string>{"a/INBOX/1.eml", "a/INBOX/3.eml"}));
    EXPECT_EQ(paths(index.search("cafe")), (std::vector<std::string>{"a/INBOX/4.eml"}));
    EXPECT_EQ(paths(index.search("CAF\u00c9 FERM")), (std::vector<std::string>{"a/INBOX/4.eml"}));
    EXPECT_TRUE(index.search("x").empty());
    EXPECT_TRUE(index.search("").empty());
    EXPECT_TRUE(index.search("  ,. ").empty());
    EXPECT_TRUE(index.search("nowhere").empty());
    EXPECT_TRUE(index.search("invoice nowhere").empty());
    EXPECT_EQ(index.count(), 5u);
    EXPECT_EQ(index.liveRecords().size(), 5u);
    EXPECT_TRUE(SearchIndex().search("anything").empty());

    // A query word longer than 40 characters finds its word by the first 40.
    SearchIndex longWords;
    const std::string word(55, 'q');
    longWords.add(rec("p", "2024-01-01T00:00:00Z"), word);
    EXPECT_EQ(longWords.search(word).size(), 1u);
}

// Large results are read off a date order, small ones sorted: both newest
// first, equal dates in slot order, and removed records left out.
TEST(SearchIndex, OrderOfLargeAndSmallResults) {
    SearchIndex index;
    for (int i = 0; i < 200; ++i) {
        char date[32];
        std::snprintf(date, sizeof date, "2024-01-%02dT00:00:00Z", 1 + (i * 7) % 28);
        index.add(rec("m" + std::to_string(i), date), std::string("common ") + (i % 50 == 0 ? "rare" : "other"));
    }
    index.remove("m3");
    for (const char* q : {"common", "rare", "oth"}) {
        const auto found = index.search(q);
        auto expected = index.liveRecords();
        expected.erase(std::remove_if(expected.begin(), expected.end(),
                                      [&](const MessageRecord& r) {
                                          const int i = std::stoi(r.path.substr(1));
                                          return std::string(q) == "rare" ? i % 50 != 0
                                                 : std::string(q) == "oth" ? i % 50 == 0
                                                                           : false;
                                      }),
                       expected.end());
        std::stable_sort(expected.begin(), expected.end(),
                         [](const MessageRecord& a, const MessageRecord& b) { return a.date > b.date; });
        EXPECT_EQ(paths(found), paths(expected)) << q;
    }
    EXPECT_EQ(index.search("common").size(), 199u);
    EXPECT_EQ(index.search("rare").size(), 4u);
}

// Taking the live records hands out what liveRecords() gave, without the
// index forgetting how to search or find a path.
TEST(SearchIndex, TakingLiveRecordsKeepsSearching) {
    SearchIndex index;
    for (int i = 0; i < 200; ++i) {
        char date[32];
        std::snprintf(date, sizeof date, "2024-01-%02dT00:00:00Z", 1 + (i * 7) % 28);
        index.add(rec("m" + std::to_string(i), date, "subject " + std::to_string(i)),
                  std::string("common ") + (i % 50 == 0 ? "rare" : "other"));
    }
    index.remove("m3");
    index.add(rec("m4", "2024-02-01T00:00:00Z", "again"), "common again");
    const auto live = index.liveRecords();
    std::vector<std::vector<SearchIndex::Slot>> before;
    for (const char* q : {"common", "rare", "again", "nowhere"}) before.push_back(index.searchSlots(q));

    EXPECT_EQ(index.takeLiveRecords(), live);
    std::vector<std::vector<SearchIndex::Slot>> after;
    for (const char* q : {"common", "rare", "again", "nowhere"}) after.push_back(index.searchSlots(q));
    EXPECT_EQ(after, before);
    EXPECT_EQ(index.count(), 199u);
    for (const auto& r : live) {
        EXPECT_EQ(index.slot(r.path), std::optional<SearchIndex::Slot>(SearchIndex::Slot(r.id))) << r.path;
        EXPECT_EQ(index.dateAt(SearchIndex::Slot(r.id)), r.date) << r.path;
        EXPECT_EQ(index.pathAt(SearchIndex::Slot(r.id)), std::string_view(r.path));
    }
    EXPECT_FALSE(index.slot("m3"));
    EXPECT_FALSE(index.pathAt(3));
    EXPECT_EQ(index.record("m0")->path, "m0");

    // Changes after the take still keep lookups and results right.
    index.remove("m0");
    EXPECT_FALSE(index.slot("m0"));
    EXPECT_EQ(index.searchSlots("rare").size(), before[1].size() - 1);
    index.add(rec("m900", "2030-01-01T00:00:00Z"), "rare");
    EXPECT_EQ(paths(index.search("rare")).front(), "m900");
    EXPECT_EQ(index.slot("m7"), std::optional<SearchIndex::Slot>(7));
    index.compact();
    EXPECT_EQ(index.count(), 199u);
    EXPECT_EQ(SearchIndex::decode(index.encode())->search("rare").size(), before[1].size());
}

TEST(SearchIndex, PostingsAndSortedTokens) {
    SearchIndex index;
    index.add(rec("p1", "2024-01-01T00:00:00Z"), "apple apple banana");
    index.add(rec("p2", "2024-01-02T00:00:00Z"), "Apple cherry");
    EXPECT_EQ(index.postings().at("apple"), (SearchIndex::Postings{0, 1}));
    EXPECT_EQ(index.postings().at("banana"), (SearchIndex::Postings{0}));

    EXPECT_FALSE(index.hasSortedTokens());
    EXPECT_EQ(index.tokensWithPrefix("a"), (std::vector<std::string_view>{"apple"}));
    EXPECT_EQ(index.tokensWithPrefix("b").size(), 1u);
    EXPECT_TRUE(index.tokensWithPrefix("zz").empty());
    EXPECT_EQ(index.tokensWithPrefix("").size(), 3u);
    EXPECT_TRUE(index.hasSortedTokens());

    // Tokens sort by their UTF-8 bytes: "z" < "ø" < "œ" (letters without a
    // decomposition keep their form).
    SearchIndex accents;
    accents.add(rec("q", "2024-01-01T00:00:00Z"), "\u0152uvre zeta \u00d8rsted \u00e9t\u00e9");
    EXPECT_EQ(accents.tokensWithPrefix(""),
              (std::vector<std::string_view>{"ete", "zeta", "\u00f8rsted", "\u0153uvre"}));
    EXPECT_EQ(accents.tokensWithPrefix("\u00f8"), (std::vector<std::string_view>{"\u00f8rsted"}));
    EXPECT_EQ(accents.search("\u00c9T\u00c9").size(), 1u);
    (void)index.search("apple");
    index.remove("p1");
    EXPECT_TRUE(index.hasSortedTokens());  // removing changes no token
    index.add(rec("p3", "2024-01-03T00:00:00Z"), "date");
    EXPECT_FALSE(index.hasSortedTokens());
    (void)index.search("date");
    EXPECT_TRUE(index.hasSortedTokens());
    index.compact();
    EXPECT_FALSE(index.hasSortedTokens());
}

TEST(SearchIndex, ReplaceRemoveAndCompact) {
    SearchIndex index;
    index.add(rec("a", "2024-01-01T00:00:00Z", "first"), "alpha shared");
    index.add(rec("b", "2024-01-02T00:00:00Z"), "beta shared");
    index.add(rec("c", "2024-01-03T00:00:00Z"), "gamma shared");

    // A second record for an indexed path: same count, one more slot.
    index.add(rec("a", "2024-01-04T00:00:00Z", "second"), "delta shared");
    EXPECT_EQ(index.count(), 3u);
    EXPECT_EQ(index.records().size(), 4u);
    EXPECT_FALSE(index.records()[0]);
    EXPECT_TRUE(index.search("alpha").empty());  // stale posting skipped
    EXPECT_EQ(index.postings().at("alpha"), (SearchIndex::Postings{0}));
    EXPECT_EQ(index.record("a")->subject, "second");
    EXPECT_EQ(index.record("a")->id, 3);

    index.remove("nope");
    EXPECT_EQ(index.count(), 3u);
    index.remove("b");
    EXPECT_EQ(index.count(), 2u);
    EXPECT_FALSE(index.record("b"));
    EXPECT_EQ(paths(index.search("shared")), (std::vector<std::string>{"a", "c"}));

    index.compact();
    ASSERT_EQ(index.records().size(), 2u);
    EXPECT_EQ(index.records()[0]->path, "c");
    EXPECT_EQ(index.records()[0]->id, 0);
    EXPECT_EQ(index.records()[1]->path, "a");
    EXPECT_EQ(index.records()[1]->id, 1);
    EXPECT_EQ(index.record("a")->id, 1);
    EXPECT_FALSE(index.postings().count("alpha"));
    EXPECT_FALSE(index.postings().count("beta"));
    EXPECT_EQ(index.postings().at("shared"), (SearchIndex::Postings{0, 1}));
    EXPECT_EQ(index.postings().at("delta"), (SearchIndex::Postings{1}));
    EXPECT_EQ(paths(index.search("shared")), (std::vector<std::string>{"a", "c"}));

    // A record without any token is kept and listed but never found.
    index.add(rec("silent", "2024-02-01T00:00:00Z"), "! a ?");
    EXPECT_EQ(index.count(), 3u);
    EXPECT_TRUE(index.search("silent").empty());
}

TEST(SearchIndex, SaveAndLoad) {
    bx::test::TempDir dir;
    SearchIndex index;
    MessageRecord a = rec("acct/INBOX/2024/x.eml", "2024-03-05T14:07:09Z", "Caf\u00e9 \"quoted\" \\ / \t\x01");
    a.date += std::chrono::milliseconds(250);
    a.senderFlag = "Name shows paypal.com";
    a.mtime = 1709647629.123;
    index.add(a, "Caf\u00e9 alpha");
    index.add(rec("acct/INBOX/2024/y.eml", "2023-01-01T00:00:00Z"), "beta alpha");
    index.add(rec("acct/INBOX/2024/z.eml", "2022-01-01T00:00:00Z"), "gamma");
    index.remove("acct/INBOX/2024/z.eml");

    const auto file = dir / "vault/.brindlebox/index.json";
    index.save(file);
    const std::string bytes = dir.read(file);
    EXPECT_EQ(bytes.rfind("{\"version\":3,\"records\":[{", 0), 0u) << bytes.substr(0, 40);
    EXPECT_NE(bytes.find("\"path\":\"acct\\/INBOX\\/2024\\/x.eml\""), std::string::npos);
    EXPECT_NE(bytes.find("\"date\":\"2024-03-05T14:07:09Z\""), std::string::npos);
    EXPECT_NE(bytes.find(",null],\"postings\":{"), std::string::npos);
    EXPECT_NE(bytes.find("\"alpha\":[0,1]"), std::string::npos);
    EXPECT_EQ(bytes.find(' ', bytes.find("\"postings\"")), std::string::npos);

    auto loaded = SearchIndex::load(file);
    EXPECT_EQ(loaded->count(), 2u);
    ASSERT_EQ(loaded->records().size(), 3u);
    MessageRecord expected = *index.records()[0];
    expected.date = *bx::parseISO8601("2024-03-05T14:07:09Z");
    EXPECT_EQ(*loaded->records()[0], expected);
    EXPECT_EQ(*loaded->records()[1], *index.records()[1]);
    EXPECT_FALSE(loaded->records()[2]);
    EXPECT_EQ(loaded->postings(), index.postings());
    EXPECT_EQ(loaded->record("acct/INBOX/2024/y.eml")->id, 1);
    EXPECT_EQ(paths(loaded->search("alpha")), (std::vector<std::string>{"acct/INBOX/2024/x.eml", "acct/INBOX/2024/y.eml"}));
    // Saving what was loaded writes the same bytes.
    EXPECT_EQ(loaded->encode(), bytes);

    // The old file stays whole when a save fails.
    const auto blocked = dir / "blocked";
    dir.write("blocked", "a file, not a folder");
    EXPECT_ANY_THROW(index.save(blocked / "index.json"));
}

// Everything a damaged, foreign or inconsistent file can be loads as an
// empty index, which the next scan rebuilds.
TEST(SearchIndex, LoadNeverFails) {
    bx::test::TempDir dir;
    SearchIndex index;
    index.add(rec("a/b/c.eml", "2024-01-01T00:00:00Z", "s"), "alpha beta");
    index.add(rec("a/b/d.eml", "2024-01-02T00:00:00Z", "t"), "alpha");
    const std::string good = index.encode();
    ASSERT_EQ(SearchIndex::decode(good)->count(), 2u);

    auto replaced = [&](const std::string& from, const std::string& to) { return replacedIn(good, from, to); };
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"truncated", good.substr(0, good.size() / 2)},
        {"not json", "version 3, honestly"},
        {"array", "[" + good + "]"},
        {"trailing garbage", good + "x"},
        {"version 2", replaced("\"version\":3", "\"version\":2")},
        {"version as string", replaced("\"version\":3", "\"version\":\"3\"")},
        {"version missing", replaced("\"version\":3,", "")},
        {"records missing", "{\"version\":3,\"postings\":{}}"},
        {"postings missing", "{\"version\":3,\"records\":[]}"},
        {"records null", "{\"version\":3,\"records\":null,\"postings\":{}}"},
        {"record lacks subject", replaced("\"subject\":\"s\",", "")},
        {"record unknown trust", replaced("\"trust\":\"unknown\"", "\"trust\":\"Unknown\"")},
        {"record date with fraction", replaced("2024-01-01T00:00:00Z", "2024-01-01T00:00:00.5Z")},
        {"record size fraction", replaced("\"size\":0", "\"size\":0.5")},
        {"record as number", replaced("[{", "[7,{")},
        {"posting as string", replaced("\"alpha\":[0,1]", "\"alpha\":[\"0\",1]")},
        {"posting fraction", replaced("\"alpha\":[0,1]", "\"alpha\":[0.5,1]")},
        // Slots that disagree with the records would read outside them.
        {"posting past the records", replaced("\"alpha\":[0,1]", "\"alpha\":[0,2]")},
        {"posting negative", replaced("\"alpha\":[0,1]", "\"alpha\":[-1,1]")},
        {"posting huge", replaced("\"alpha\":[0,1]", "\"alpha\":[0,99999999999999999999]")},
        {"postings out of order", replaced("\"alpha\":[0,1]", "\"alpha\":[1,0]")},
        {"posting repeated", replaced("\"alpha\":[0,1]", "\"alpha\":[1,1]")},
        {"id not its slot", replaced("\"id\":1", "\"id\":0")},
        {"id past the records", replaced("\"id\":1", "\"id\":7")},
        {"id negative", replaced("\"id\":0", "\"id\":-1")},
        // Malformed JSON in every way the reader must refuse.
        {"deeply nested", replaced("{\"version\":3,", "{\"x\":" + std::string(100000, '[') + std::string(100000, ']') + ",\"version\":3,")},
        {"lone surrogate", replaced("\"subject\":\"s\"", "\"subject\":\"\\ud800\"")},
        {"raw control character", replaced("\"subject\":\"s\"", "\"subject\":\"a\tb\"")},
        {"invalid UTF-8", replaced("\"subject\":\"s\"", "\"subject\":\"\xc3\x28\"")},
        {"leading zero", replaced("\"size\":0", "\"size\":01")},
        {"trailing comma", replaced("\"alpha\":[0,1]", "\"alpha\":[0,1,]")},
        {"single quotes", replaced("\"subject\":\"s\"", "'subject':'s'")},
        {"bad escape", replaced("\"subject\":\"s\"", "\"subject\":\"\\x41\"")},
    };
    for (const auto& [name, text] : cases) {
        auto decoded = SearchIndex::decode(text);
        EXPECT_TRUE(!decoded || decoded->count() == 0) << name;
        const auto file = dir / (std::string(name) + ".json");
        dir.write(file.filename(), text);
        // The refusal says why, so a rebuilt index can be told apart from a lost one.
        std::string why;
        auto loaded = SearchIndex::load(file, &why);
        EXPECT_FALSE(why.empty()) << name;
        EXPECT_EQ(loaded->count(), 0u) << name;
        EXPECT_TRUE(loaded->records().empty()) << name;
        EXPECT_TRUE(loaded->postings().empty()) << name;
        EXPECT_TRUE(loaded->search("alpha").empty()) << name;
    }
    EXPECT_EQ(SearchIndex::load(dir / "missing.json")->count(), 0u);
    EXPECT_EQ(SearchIndex::load(dir.path())->count(), 0u);  // a folder

    // What readers must accept: other key orders, unknown keys, white space,
    // a zone offset, a whole number written as one.
    const std::string other =
        "{ \"postings\" : { \"alpha\" : [ 0 ] }, \"extra\": {\"x\": [1, {\"y\": null}]}, \"records\" : [ {"
        "\"mtime\": 5, \"id\": 0.0, \"path\": \"p\", \"account\": \"\", \"folder\": \"\", \"subject\": \"\", "
        "\"fromName\": \"\", \"fromEmail\": \"\", \"to\": \"\", \"date\": \"2024-01-01T01:00:00+01:00\", "
        "\"size\": 1, \"snippet\": \"\", \"attachments\": 0, \"trackers\": 0, \"remoteImages\": 0, "
        "\"trust\": \"failed\", \"replyToMismatch\": true, \"linkWarnings\": 0, \"senderFlag\": null, "
        "\"unknown\": [[]] } ], \"version\" : 3 }";
    std::string why;
    auto loaded = SearchIndex::decode(other, &why);
    ASSERT_TRUE(loaded) << why;
    EXPECT_EQ(why, "");
    ASSERT_EQ(loaded->count(), 1u);
    const MessageRecord& r = *loaded->records()[0];
    EXPECT_EQ(r.date, *bx::parseISO8601("2024-01-01T00:00:00Z"));
    EXPECT_EQ(r.trust, bx::SenderTrust::failed);
    EXPECT_TRUE(r.isSuspicious());
    EXPECT_FALSE(r.senderFlag);
    EXPECT_EQ(loaded->search("alp").size(), 1u);

    // Escapes decode; what is read writes back in the writer's own form.
    std::string escaped = good;
    escaped.replace(escaped.find("\"subject\":\"s\""), 13, "\"subject\":\"\\u00e9\\ud83d\\ude00\\/\\n\"");
    auto e = SearchIndex::decode(escaped);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->records()[0]->subject, "\u00e9\U0001F600/\n");
    EXPECT_NE(e->encode().find("\"subject\":\"\u00e9\U0001F600\\/\\n\""), std::string::npos);

    // Duplicate paths: the later record owns the path.
    std::string twice = good;
    twice.replace(twice.find("a\\/b\\/d.eml"), 11, "a\\/b\\/c.eml");
    auto dup = SearchIndex::decode(twice);
    ASSERT_TRUE(dup);
    EXPECT_EQ(dup->record("a/b/c.eml")->id, 1);
}

// The store opens records by path: one that would lead outside the vault
// must not survive a load, whatever else the file holds.
TEST(SearchIndex, LoadDropsPathsThatLeaveTheVault) {
    SearchIndex index;
    const std::vector<std::string> bad = {"/etc/passwd", "", "acct/../../outside.eml", "../x.eml", "./a.eml",
                                          "acct//a.eml", "acct/INBOX/.", "acct/INBOX/"};
    for (const auto& p : bad) index.add(rec(p, "2024-01-01T00:00:00Z"), "secret");
    index.add(rec("acct/INBOX/2024/ok.eml", "2023-01-01T00:00:00Z"), "secret");
    bx::test::TempDir dir;
    index.save(dir / "index.json");

    for (const auto& loaded : {SearchIndex::load(dir / "index.json"), SearchIndex::decode(index.encode())}) {
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->count(), 1u);
        EXPECT_EQ(paths(loaded->liveRecords()), (std::vector<std::string>{"acct/INBOX/2024/ok.eml"}));
        EXPECT_EQ(paths(loaded->search("secret")), (std::vector<std::string>{"acct/INBOX/2024/ok.eml"}));
        for (const auto& p : bad) EXPECT_FALSE(loaded->record(p)) << p;
        // What is left still saves and reads back the same.
        EXPECT_EQ(SearchIndex::decode(loaded->encode())->encode(), loaded->encode());
    }
}

// An index written before root files lost their account named the file
// itself as one; loading it must not bring those accounts back.
TEST(SearchIndex, LoadGivesFilesAtTheVaultRootNoAccount) {
    SearchIndex index;
    MessageRecord loose = rec("plain.eml", "2024-01-01T00:00:00Z");
    loose.account = "plain.eml";
    index.add(loose, "alpha");
    MessageRecord filed = rec("acct/INBOX/2024/ok.eml", "2023-01-01T00:00:00Z");
    filed.account = "acct";
    filed.folder = "INBOX";
    index.add(filed, "alpha");
    bx::test::TempDir dir;
    index.save(dir / "index.json");

    for (const auto& loaded : {SearchIndex::load(dir / "index.json"), SearchIndex::decode(index.encode())}) {
        ASSERT_TRUE(loaded);
        ASSERT_TRUE(loaded->record("plain.eml"));
        EXPECT_EQ(loaded->record("plain.eml")->account, "");
        EXPECT_EQ(loaded->record("plain.eml")->folder, "");
        EXPECT_EQ(loaded->record("acct/INBOX/2024/ok.eml")->account, "acct");
        EXPECT_EQ(loaded->record("acct/INBOX/2024/ok.eml")->folder, "INBOX");
        EXPECT_EQ(paths(loaded->search("alpha")).size(), 2u);
    }
}

// Slots far apart, removals and compaction over many paths: the compressed
// lists and the path table must give back exactly what went in.
TEST(SearchIndex, ManyRecordsThroughRemoveCompactAndReload) {
    SearchIndex index;
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
        std::string text = "common w" + std::to_string(i % 7);
        if (i == 0 || i == 1000 || i == n - 1) text += " rare";
        index.add(rec("a/f/" + std::to_string(i) + ".eml", "2024-01-01T00:00:00Z"), text);
    }
    EXPECT_EQ(index.postings().at("rare"), (SearchIndex::Postings{0, 1000, n - 1}));
    for (int i = 0; i < n; i += 3) index.remove("a/f/" + std::to_string(i) + ".eml");
    for (int i = 0; i < n; ++i) {
        const auto r = index.record("a/f/" + std::to_string(i) + ".eml");
        ASSERT_EQ(r.has_value(), i % 3 != 0) << i;
        if (r) {
            EXPECT_EQ(r->id, i);
        }
    }
    EXPECT_EQ(index.search("rare").size(), 2u);  // 1000 and 2999 are left
    index.compact();
    EXPECT_EQ(index.count(), static_cast<size_t>(n - (n + 2) / 3));
    EXPECT_EQ(index.postings().at("rare"), (SearchIndex::Postings{666, 1999}));
    EXPECT_EQ(index.record("a/f/1000.eml")->id, 666);
    size_t w3 = 0;
    for (int i = 0; i < n; ++i) w3 += i % 7 == 3 && i % 3 != 0;
    EXPECT_EQ(index.search("w3").size(), w3);

    // Re-adding a path takes a new slot; the table finds it, not the old one.
    index.add(rec("a/f/1.eml", "2025-01-01T00:00:00Z"), "again");
    EXPECT_EQ(index.record("a/f/1.eml")->id, static_cast<int64_t>(index.records().size() - 1));
    EXPECT_EQ(paths(index.search("again")), (std::vector<std::string>{"a/f/1.eml"}));
    EXPECT_TRUE(index.search("w1").size() > 0);

    auto loaded = SearchIndex::decode(index.encode());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->encode(), index.encode());
    EXPECT_EQ(loaded->postings(), index.postings());
}

// index.json is read in pieces of a few megabytes: a file of several pieces,
// with strings and lists across their edges, reads back exactly.
TEST(SearchIndex, LargeFileLoadsWhole) {
    SearchIndex index;
    std::string subject;
    for (int i = 0; i < 120; ++i) subject += "Gr\u00fc\u00dfe \"quoted\" \\ slash/ ";
    for (int i = 0; i < 2500; ++i)
        index.add(rec("acct/INBOX/" + std::to_string(i) + ".eml", "2024-01-01T00:00:00Z", subject + std::to_string(i)),
                  "token" + std::to_string(i % 50) + " shared");
    bx::test::TempDir dir;
    index.save(dir / "index.json");
    ASSERT_GT(std::filesystem::file_size(dir / "index.json"), 9u << 20);
    // Saved in pieces, it is still exactly the text encode gives.
    EXPECT_EQ(dir.read("index.json"), index.encode());
    auto loaded = SearchIndex::load(dir / "index.json");
    EXPECT_EQ(loaded->count(), 2500u);
    EXPECT_EQ(loaded->encode(), dir.read("index.json"));
    EXPECT_EQ(loaded->search("shared").size(), 2500u);
    EXPECT_EQ(loaded->search("token7").size(), 50u);

    // Cut off in a later piece: broken, so empty.
    std::filesystem::resize_file(dir / "index.json", 6u << 20);
    EXPECT_EQ(SearchIndex::load(dir / "index.json")->count(), 0u);
}

// A large index.json is read by several threads, each starting where a
// record or posting list seems to begin. Whatever the text, the result must
// be what one reader makes of it, refusals and their reasons included.
TEST(SearchIndex, ReadingInPiecesMatchesOneReader) {
    SearchIndex index;
    for (int i = 0; i < 400; ++i) {
        // Subjects that look like the places a piece may start.
        const std::string subject = i % 3 == 0 ? "x},{\"id\":7 ],\"a\":[1" : "plain " + std::to_string(i);
        // Many tokens, so that the postings take several pieces too.
        std::string text = "word" + std::to_string(i % 37) + " every";
        for (int j = 0; j < 20; ++j) text += " t" + std::to_string(i) + "x" + std::to_string(j);
        index.add(rec("acct/INBOX/" + std::to_string(i) + ".eml", "2024-01-01T00:00:00Z", subject), text);
    }
    for (int i = 0; i < 400; i += 9) index.remove("acct/INBOX/" + std::to_string(i) + ".eml");
    const std::string good = index.encode();
    auto replaced = [&](const std::string& from, const std::string& to) { return replacedIn(good, from, to); };
    const size_t lastRecord = good.rfind("{\"id\":");
    const std::string middleRecord = "{\"id\":200,";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"as written", good},
        // Text that looks like a boundary inside a record.
        {"record-like object in an unknown field",
         replaced(middleRecord, middleRecord + "\"u\":[{\"a\":1},{\"id\":5}],")},
        {"posting-like lists in an unknown field", replaced(middleRecord, middleRecord + "\"u\":[1],\"v\":[2],")},
        {"token given twice far apart", replaced("\"postings\":{", "\"postings\":{\"word3\":[1],")},
        {"white space between records", replaced("},{\"id\":101,", "},\n {\"id\":101,")},
        {"cut off in the postings", good.substr(0, good.size() - 40)},
        {"cut off in the last record", good.substr(0, lastRecord + 30)},
        {"damaged record", replaced("\"id\":300,", "\"id\":300,,")},
        {"posting past the records", replaced("\"every\":[", "\"every\":[9999,")},
        {"trailing garbage", good + "x"},
    };
    bx::test::TempDir dir;
    for (const auto& [name, text] : cases) {
        dir.write("index.json", text);
        std::string oneWhy;
        const auto one = bx::loadIndex(dir / "index.json", &oneWhy, 1, 0);
        for (unsigned threads : {2u, 3u, 8u}) {
            std::string why;
            const auto many = bx::loadIndex(dir / "index.json", &why, threads, 0);
            EXPECT_EQ(many->count(), one->count()) << name << ", " << threads << " threads";
            EXPECT_EQ(many->encode(), one->encode()) << name << ", " << threads << " threads";
            EXPECT_EQ(why, oneWhy) << name << ", " << threads << " threads";
        }
    }
    // The written file itself reads back to its own bytes.
    dir.write("index.json", good);
    EXPECT_EQ(bx::loadIndex(dir / "index.json", nullptr, 8, 0)->encode(), good);
}
