// The reader and parser against what a real server writes: Dovecot's own
// spelling of LIST, SELECT and FETCH replies, message bodies as literals that
// arrive over many reads, and the same responses however the bytes are cut.
#include "Imap/IMAPFetchItem.h"
#include "Imap/IMAPMailbox.h"
#include "Imap/IMAPResponseReader.h"

#include "support/DovecotFixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>

using namespace bx;
using bx::test::DovecotFixture;
using bx::test::DovecotOptions;

namespace {

std::chrono::system_clock::time_point utc(int y, unsigned m, unsigned d, int hh, int mm, int ss) {
    using namespace std::chrono;
    return sys_days(year(y) / month(m) / day(d)) + hours(hh) + minutes(mm) + seconds(ss);
}

// A plain TCP session that keeps every byte the server sent.
class Session {
public:
    explicit Session(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("connect");
        untilGreeting();
    }
    ~Session() { ::close(fd_); }

    // Sends a command and reads up to its tagged reply.
    void run(const std::string& tag, const std::string& command) {
        const std::string line = tag + " " + command + "\r\n";
        if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) throw std::runtime_error("send");
        while (true) {
            while (auto r = live_.next()) {
                const bool done = r->isTagged() && r->tag == tag;
                responses.push_back(std::move(*r));
                if (done) return;
            }
            receive();
        }
    }

    std::string transcript;
    std::vector<IMAPResponse> responses;
    std::size_t reads = 0;

private:
    void untilGreeting() {
        while (true) {
            if (auto r = live_.next()) {
                responses.push_back(std::move(*r));
                return;
            }
            receive();
        }
    }
    void receive() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1) throw std::runtime_error("server silent");
        char buf[16384];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) throw std::runtime_error("closed");
        ++reads;
        transcript.append(buf, std::size_t(n));
        live_.append(std::string_view(buf, std::size_t(n)));
    }

    int fd_ = -1;
    IMAPResponseReader live_;
};

std::string bodyOf(const IMAPFetchItem& item) { return item.body ? std::string(item.body->begin(), item.body->end()) : ""; }

class ReaderOnDovecot : public ::testing::TestWithParam<char> {};

}  // namespace

TEST_P(ReaderOnDovecot, ReadsWhatTheServerSends) {
    DovecotOptions options;
    options.delimiter = GetParam();
    DovecotFixture dovecot(options);
    const auto& alice = bx::test::users::alice;

    // Bodies that look like protocol: literal markers, tagged lines, parentheses.
    std::string large = bx::test::makeMessage("Large", "");
    while (large.size() < 3 * 1024 * 1024) large += "a line {12}\r\nA1 OK ) ( \"quoted\" ] [\r\n";
    const std::vector<bx::test::SeedMessage> seeds = {
        {bx::test::makeMessage("First", "* 1 FETCH (BODY[] {5}\r\n"), utc(2024, 3, 7, 8, 15, 2), {"\\Seen"}},
        {bx::test::makeMessage("Gr\xC3\xBC\xC3\x9F" "e", "8-bit body \xC3\xA4\xC3\xB6\xC3\xBC\r\n"), utc(1999, 12, 31, 23, 59, 59),
         {"\\Flagged", "$Forwarded"}},
        {large, utc(2010, 6, 1, 12, 0, 0), {}},
    };
    const std::string folder = dovecot.path({"Archiv", "Entw\xC3\xBC" "rfe"});
    dovecot.createMailbox(alice, folder);
    const auto uids = dovecot.append(alice, "INBOX", seeds);
    ASSERT_EQ(uids.size(), 3u);

    Session s(dovecot.imapPort());
    s.run("a1", "LOGIN alice alice-secret");
    s.run("a2", "LIST \"\" \"*\"");
    s.run("a3", "SELECT INBOX");
    s.run("a4", "UID FETCH 1:* (UID RFC822.SIZE FLAGS INTERNALDATE BODY.PEEK[])");
    s.run("a5", "LOGOUT");
    EXPECT_GT(s.reads, 20u);  // the large body came in many reads

    // Greeting and completions.
    ASSERT_TRUE(s.responses.front().isUntaggedStatus());
    EXPECT_EQ(s.responses.front().status, IMAPStatus::ok);
    std::map<std::string, IMAPStatus> tagged;
    for (const auto& r : s.responses)
        if (r.isTagged()) tagged[r.tag] = r.status;
    EXPECT_EQ(tagged.size(), 5u);
    for (const auto& [tag, status] : tagged) EXPECT_EQ(status, IMAPStatus::ok) << tag;

    // LIST.
    std::map<std::string, IMAPMailbox> mailboxes;
    for (const auto& r : s.responses)
        if (r.isUntagged())
            if (auto m = IMAPMailbox::fromListResponse(r.values)) mailboxes[m->displayName] = *m;
    const std::string display = "Archiv" + std::string(1, GetParam()) + "Entw\xC3\xBC" "rfe";
    ASSERT_TRUE(mailboxes.count(display)) << "LIST did not show " << display;
    EXPECT_EQ(mailboxes[display].name, "Archiv" + std::string(1, GetParam()) + "Entw&APw-rfe");
    EXPECT_EQ(mailboxes[display].delimiter, std::string(1, GetParam()));
    ASSERT_TRUE(mailboxes.count("INBOX"));
    EXPECT_EQ(mailboxes["INBOX"].role(), "inbox");

    // SELECT's codes.
    bool sawUidValidity = false;
    for (const auto& r : s.responses)
        if (r.isUntaggedStatus() && r.code && r.code->rfind("UIDVALIDITY ", 0) == 0) sawUidValidity = true;
    EXPECT_TRUE(sawUidValidity);

    // FETCH: every body byte for byte, sizes, flags and dates as seeded.
    std::vector<IMAPFetchItem> items;
    for (auto& r : s.responses)
        if (r.isUntagged())
            if (auto item = IMAPFetchItem::fromValues(r.values)) items.push_back(std::move(*item));
    ASSERT_EQ(items.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].sequence, std::int64_t(i + 1));
        EXPECT_EQ(items[i].uid, uids[i]);
        EXPECT_EQ(bodyOf(items[i]), seeds[i].bytes);
        EXPECT_EQ(bodyOf(items[i]), dovecot.fetchRaw(alice, "INBOX", uids[i]));
        EXPECT_EQ(items[i].size, std::int64_t(seeds[i].bytes.size()));
        EXPECT_EQ(items[i].internalDate, seeds[i].internalDate);
        std::vector<std::string> flags = items[i].flags;
        flags.erase(std::remove(flags.begin(), flags.end(), "\\Recent"), flags.end());
        EXPECT_EQ(flags, seeds[i].flags);
    }

    // Cut however the bytes arrive, the same responses come out.
    for (std::size_t chunk : {std::size_t(1), std::size_t(3), std::size_t(4096), std::size_t(1) << 20, s.transcript.size()}) {
        SCOPED_TRACE(chunk);
        if (chunk == 1 && s.transcript.size() > 4 * 1024 * 1024) continue;
        IMAPResponseReader r;
        std::vector<IMAPResponse> again;
        for (std::size_t i = 0; i < s.transcript.size(); i += chunk) {
            r.append(std::string_view(s.transcript).substr(i, chunk));
            while (auto resp = r.next()) again.push_back(std::move(*resp));
        }
        EXPECT_EQ(r.bufferedByteCount(), 0u);
        EXPECT_TRUE(again == s.responses);
    }
}

INSTANTIATE_TEST_SUITE_P(Delimiters, ReaderOnDovecot, ::testing::Values('/', '.'),
                         [](const auto& info) { return info.param == '/' ? std::string("Slash") : std::string("Dot"); });
