#include "DemoMode/DemoFiller.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include <QLocale>
#include <QTimeZone>

#include "DemoMode/DemoOwner.h"

namespace bx {

namespace demo {

namespace {
constexpr const char* kFallbackDomain = "mail.invalid";
constexpr const char* kFillerReceiver = "mx1.kestrelmail.com";
}  // namespace

std::string rfc822Date(const QDateTime& date) {
    const QDateTime local = date.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int mag = std::abs(offset) / 60;
    const QString zone = QStringLiteral("%1%2%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(mag / 60, 2, 10, QLatin1Char('0'))
                             .arg(mag % 60, 2, 10, QLatin1Char('0'));
    return (QLocale::c().toString(local, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss ")) + zone).toStdString();
}

std::string senderDomain(const std::string& email) {
    std::string last;
    std::size_t start = 0;
    while (start <= email.size()) {
        const std::size_t at = email.find('@', start);
        const std::size_t end = at == std::string::npos ? email.size() : at;
        if (end > start) last = email.substr(start, end - start);
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return last.empty() ? kFallbackDomain : last;
}

std::uint64_t textHash(const std::string& text) { return std::hash<std::string>{}(text); }

}  // namespace demo

std::uint64_t DemoFiller::Rng::next() {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

const std::vector<std::string>& DemoFiller::bodies() {
    static const std::vector<std::string> rows = {
        "Short note to say thanks — talk soon.",
        "Here’s the update I promised. Let me know what you think.",
        "Sending this over before I forget. No rush.",
        "Quick question when you have a minute.",
        "All sorted on our side. Have a lovely weekend!",
        "Attached the details below, as discussed.",
    };
    return rows;
}

const std::vector<std::string>& DemoFiller::eventSubjects() {
    static const std::vector<std::string> rows = {"Seating plan v", "Menu tasting", "Flowers — final", "RSVP list",
                                                  "Speech draft"};
    return rows;
}

const char* DemoFiller::teaser() { return "This week: small rituals, good bread and a reader’s letter."; }

std::vector<DemoFiller::Msg> DemoFiller::messages(const QDateTime& nowIn) {
    using demo::Owner;
    const QDateTime now = nowIn.toLocalTime();
    const int Y = now.date().year();
    const int S = Y - 15;
    const QDateTime end = now.addDays(-40);
    Rng rng;
    std::vector<Msg> out;

    const auto& personal = demo::personalParties();
    const auto& letters = demo::newsletterParties();
    const auto& studio = demo::studioParties();
    const std::vector<demo::Party> firstThree(personal.begin(), personal.begin() + 3);

    auto timeIn = [&](const QDateTime& month) {
        return month.addSecs(static_cast<qint64>(rng.next() % 38880 + 60) * 60);
    };

    for (QDateTime M(QDate(S, 2, 1), QTime(0, 0)); M < end; M = M.addMonths(1)) {
        const int y = M.date().year();
        const int m = M.date().month();
        const double f = double(y - S) / 15.0;
        const bool eventMonth = y == Y - 7 && m >= 4 && m <= 6;

        long P = static_cast<long>(f * 9 + 2) + static_cast<long>(rng.next() % 4);
        if (m == 6 || m == 12) P += 3;
        if (eventMonth)
            P += 18;
        else if (y == Y - 5 && m == 9)
            P += 14;
        else if (m == 7)
            P -= 2;

        long T = 0;
        if (y >= Y - 9) {
            T = static_cast<long>(f * 7 + 3) + static_cast<long>(rng.next() % 5);
            if (m == 7) T -= 4;
        }

        for (long i = 0; i < P; ++i) {
            Msg msg;
            msg.account = "Personal";
            const std::uint64_t k = rng.next() % 10;
            if (k <= 1) {
                const auto& row = rng.pick(letters);
                msg.folder = "INBOX";
                msg.fromName = row.name;
                msg.fromEmail = row.email;
                msg.to = Owner::personal;
                msg.subject = rng.pick(row.subjects);
                msg.body = teaser();
                msg.newsletter = true;
            } else if (k == 2) {
                const auto& row = rng.pick(firstThree);
                msg.folder = "Sent";
                msg.fromName = Owner::name;
                msg.fromEmail = Owner::personal;
                msg.to = row.name;
                msg.subject = "Re: " + rng.pick(row.subjects);
                msg.body = rng.pick(bodies());
            } else {
                const auto& row = rng.pick(personal);
                msg.folder = "INBOX";
                msg.fromName = row.name;
                msg.fromEmail = row.email;
                msg.to = Owner::personal;
                bool eventSubject = false;
                if (eventMonth && rng.next() % 2 == 0) {
                    const std::uint64_t n = rng.next() % 6 + 2;
                    const std::string& pick = rng.pick(eventSubjects());
                    msg.subject = &pick == &eventSubjects().front() ? pick + std::to_string(n) : pick;
                    eventSubject = true;
                }
                if (!eventSubject) msg.subject = rng.pick(row.subjects);
                msg.body = rng.pick(bodies());
            }
            msg.date = timeIn(M);
            out.push_back(std::move(msg));
        }
        for (long i = 0; i < T; ++i) {
            Msg msg;
            msg.account = "Studio";
            const auto& row = rng.pick(studio);
            const std::uint64_t c = rng.next();
            const std::string subject = rng.pick(row.subjects);
            msg.body = rng.pick(bodies());
            if (c % 5 == 0) {
                msg.folder = "Sent";
                msg.fromName = Owner::name;
                msg.fromEmail = Owner::studio;
                msg.to = row.name;
                msg.subject = "Re: " + subject;
            } else {
                msg.folder = "INBOX";
                msg.fromName = row.name;
                msg.fromEmail = row.email;
                msg.to = Owner::studio;
                msg.subject = subject;
            }
            msg.date = timeIn(M);
            out.push_back(std::move(msg));
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const Msg& a, const Msg& b) { return a.date < b.date; });
    return out;
}

QByteArray DemoFiller::Msg::eml() const {
    const std::string domain = demo::senderDomain(fromEmail);
    const std::uint64_t h = demo::textHash(subject);
    std::vector<std::string> lines = {
        std::string("Authentication-Results: ") + demo::kFillerReceiver + "; spf=pass smtp.mailfrom=" + domain +
            "; dkim=pass header.d=" + domain + "; dmarc=pass header.from=" + domain,
        "From: " + fromName + " <" + fromEmail + ">",
        "To: " + to,
        "Subject: " + subject,
        "Date: " + demo::rfc822Date(date),
        "Message-ID: <" + std::to_string(date.toSecsSinceEpoch()) + "." + std::to_string(h % 99999) + "@" + domain +
            ">",
        "MIME-Version: 1.0",
    };
    std::string text;
    if (newsletter) {
        lines.push_back("Content-Type: text/html; charset=utf-8");
        text = "<html><body style=\"font:15px/1.6 Georgia,serif;color:#2b2b2b;max-width:560px\"><h2>" + subject +
               "</h2><p>" + body + "</p><img src=\"https://" + domain + "/i/open.gif?u=" + std::to_string(h % 9999) +
               "\" width=\"1\" height=\"1\" alt=\"\"></body></html>";
    } else {
        lines.push_back("Content-Type: text/plain; charset=utf-8");
        lines.push_back("Content-Transfer-Encoding: 8bit");
        text = body;
    }
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += "\r\n";
        out += lines[i];
    }
    out += "\r\n\r\n" + text + "\r\n";
    return QByteArray::fromStdString(out);
}

}  // namespace bx
