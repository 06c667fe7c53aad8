#pragma once
// About fifteen years of ordinary mail for the demo vault, month by month,
// from one fixed-seed random source: the same day gives the same messages.
#include <cstdint>
#include <string>
#include <vector>

#include <QByteArray>
#include <QDateTime>

namespace bx {

struct DemoFiller {
    struct Msg {
        std::string account;  // "Personal" or "Studio"
        std::string folder;   // "INBOX" or "Sent"
        std::string fromName;
        std::string fromEmail;
        std::string to;
        std::string subject;
        std::string body;
        QDateTime date;
        bool newsletter = false;

        QByteArray eml() const;
    };

    // SplitMix64.
    struct Rng {
        std::uint64_t state = 20111026;
        std::uint64_t next();
        template <class T>
        const T& pick(const std::vector<T>& items) {
            return items[next() % items.size()];
        }
    };

    // The whole filler up to 40 days before `now`, sorted by date (stable).
    static std::vector<Msg> messages(const QDateTime& now = QDateTime::currentDateTime());

    static const std::vector<std::string>& bodies();
    static const std::vector<std::string>& eventSubjects();
    static const char* teaser();
};

namespace demo {
// "EEE, dd MMM yyyy HH:mm:ss Z" in the POSIX locale and the local zone.
std::string rfc822Date(const QDateTime& date);
// The text after the last "@" (the whole address when it has none), or the
// fallback domain when nothing is left.
std::string senderDomain(const std::string& email);
// A per-process string hash; only its ranges matter.
std::uint64_t textHash(const std::string& text);
}  // namespace demo

}  // namespace bx
