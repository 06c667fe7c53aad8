#include "Generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <utime.h>

namespace fs = std::filesystem;

namespace bench {

namespace {

struct Rng {
    std::mt19937_64 g;
    explicit Rng(uint64_t seed) : g(seed) {}
    uint64_t next() { return g(); }
    int range(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<uint64_t>(hi - lo + 1)); }
    double unit() { return (next() >> 11) * (1.0 / 9007199254740992.0); }
    bool chance(double p) { return unit() < p; }
};

const char* syllables[] = {"ka", "lo", "mi", "ne", "ra", "to", "su", "ve", "an", "el", "or", "in", "ta", "ri",
                           "co", "de", "ma", "po", "li", "sa", "ber", "gen", "stra", "mon", "tal", "ven", "dor",
                           "pre", "con", "ex", "ter", "ul", "bri", "fa", "gu", "ho", "jo", "ki", "qua", "zen"};

// A vocabulary with English-like frequencies: a few hundred common words
// and many rarer made-up ones, drawn by a Zipf law.
struct Vocabulary {
    std::vector<std::string> words;
    std::vector<double> cumulative;

    explicit Vocabulary(Rng& rng) {
        const char* common[] = {
            "the", "and", "for", "you", "your", "with", "this", "that", "have", "from", "will", "are", "our", "not",
            "all", "can", "more", "please", "order", "invoice", "payment", "account", "meeting", "project",
            "report", "update", "team", "thanks", "regards", "today", "tomorrow", "week", "month", "march",
            "april", "sale", "offer", "free", "shipping", "delivery", "receipt", "booking", "flight", "hotel",
            "ticket", "event", "news", "newsletter", "price", "discount", "review", "schedule", "budget",
            "contract", "draft", "agenda", "call", "notes", "photo", "family", "dinner", "weekend", "holiday",
            "garden", "furniture", "school", "doctor", "appointment", "insurance", "bank", "statement",
            "password", "security", "login", "device", "subscription", "renewal", "membership", "concert",
            "café", "résumé", "über", "größe", "straße", "naïve", "fiancée", "crème", "münchen", "señor"};
        for (const char* w : common) words.emplace_back(w);
        while (words.size() < 30000) {
            std::string w;
            const int n = rng.range(2, 4);
            for (int i = 0; i < n; ++i) w += syllables[rng.next() % (sizeof syllables / sizeof *syllables)];
            words.push_back(std::move(w));
        }
        double total = 0;
        for (size_t i = 0; i < words.size(); ++i) {
            total += 1.0 / std::pow(static_cast<double>(i + 1), 1.05);
            cumulative.push_back(total);
        }
        for (auto& c : cumulative) c /= total;
    }
    const std::string& pick(Rng& rng) const {
        const double u = rng.unit();
        const size_t i = static_cast<size_t>(std::lower_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin());
        return words[std::min(i, words.size() - 1)];
    }
};

struct Person {
    std::string name, email;
};

std::string capital(std::string s) {
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 32);
    return s;
}

std::string sentence(Rng& rng, const Vocabulary& v, int words) {
    std::string s;
    for (int i = 0; i < words; ++i) {
        if (i) s += ' ';
        s += i == 0 ? capital(v.pick(rng)) : v.pick(rng);
    }
    return s + ".";
}

std::string paragraphs(Rng& rng, const Vocabulary& v, int count) {
    std::string out;
    for (int p = 0; p < count; ++p) {
        const int sentences = rng.range(2, 7);
        std::string para;
        for (int s = 0; s < sentences; ++s) para += (s ? " " : "") + sentence(rng, v, rng.range(5, 18));
        // Wrap at about 72 columns as mail clients do.
        size_t col = 0;
        for (char c : para) {
            if (c == ' ' && col > 68) {
                out += "\n";
                col = 0;
                continue;
            }
            out += c;
            ++col;
        }
        out += "\n\n";
    }
    return out;
}

std::string base64Lines(Rng& rng, size_t bytes) {
    static const char t[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    const size_t chars = (bytes + 2) / 3 * 4;
    for (size_t i = 0; i < chars; ++i) {
        out += t[rng.next() & 63];
        if (i % 76 == 75) out += "\r\n";
    }
    return out + "\r\n";
}

std::string crlf(const std::string& s) {
    std::string out;
    out.reserve(s.size() + s.size() / 40);
    for (char c : s) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string dateHeader(std::time_t t) {
    char buf[64];
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    return buf;
}

const char* trackerHosts[] = {"us4.list-manage.com", "u123.ct.sendgrid.net", "click.e.exct.net",
                              "t.hubspotemail.net", "r.us-east-1.awstrack.me", "links.klaviyo.com"};

}  // namespace

void generateVault(const fs::path& root, int count, uint64_t seed) {
    Rng rng(seed);
    const Vocabulary vocab(rng);
    const fs::path vault = root / "vault";
    const fs::path maildir = root / "maildir";
    fs::create_directories(maildir / "cur");
    fs::create_directories(maildir / "new");
    fs::create_directories(maildir / "tmp");

    std::vector<std::string> domains = {"gmail.com", "outlook.com", "yahoo.com", "fastmail.com", "icloud.com"};
    for (int i = 0; i < 400; ++i) domains.push_back(vocab.words[200 + rng.next() % 20000] + (i % 3 ? ".com" : ".org"));
    std::vector<Person> people;
    for (int i = 0; i < 3000; ++i) {
        const std::string first = capital(vocab.words[300 + rng.next() % 5000]);
        const std::string last = capital(vocab.words[300 + rng.next() % 20000]);
        std::string local = first + "." + last;
        std::transform(local.begin(), local.end(), local.begin(), [](unsigned char c) { return std::tolower(c); });
        people.push_back({first + " " + last, local + "@" + domains[rng.next() % domains.size()]});
    }
    const Person me{"Ann Lee", "ann@example.org"};
    const char* accounts[] = {"work", "home"};
    const char* folders[] = {"INBOX", "INBOX", "INBOX", "Archive", "Sent", "Newsletters"};

    std::ofstream queries(root / "queries.txt");
    const std::time_t start = 1420070400;  // 2015-01-01
    const std::time_t span = 10LL * 365 * 86400;

    for (int n = 0; n < count; ++n) {
        const Person& from = people[static_cast<size_t>(std::pow(rng.unit(), 2.0) * people.size()) % people.size()];
        const std::time_t when = start + static_cast<std::time_t>(rng.unit() * span);
        const int kind = rng.range(0, 99);
        std::string subject = sentence(rng, vocab, rng.range(2, 8));
        subject.pop_back();
        std::string body, headers;

        headers += "Return-Path: <" + from.email + ">\n";
        headers += "Authentication-Results: mx.example.org; dkim=" + std::string(rng.chance(0.9) ? "pass" : "fail") +
                   " header.d=" + from.email.substr(from.email.find('@') + 1) + "; spf=" +
                   (rng.chance(0.85) ? "pass" : "softfail") + " smtp.mailfrom=" + from.email +
                   "; dmarc=" + (rng.chance(0.8) ? "pass" : "none") + "\n";
        headers += "From: " + from.name + " <" + from.email + ">\n";
        headers += "To: " + me.name + " <" + me.email + ">\n";
        if (rng.chance(0.2)) {
            const Person& cc = people[rng.next() % people.size()];
            headers += "Cc: " + cc.name + " <" + cc.email + ">\n";
        }
        if (rng.chance(0.05)) headers += "Reply-To: replies@" + domains[rng.next() % domains.size()] + "\n";
        headers += "Subject: " + (rng.chance(0.1) ? "=?UTF-8?Q?Caf=C3=A9_" + subject.substr(0, 20) + "?=" : subject) + "\n";
        headers += "Date: " + dateHeader(when) + "\n";
        headers += "Message-ID: <" + std::to_string(n) + "." + std::to_string(seed) + "@bench.example>\n";
        headers += "MIME-Version: 1.0\n";

        const std::string text = paragraphs(rng, vocab, rng.range(1, 6));
        if (kind < 40) {
            headers += "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n";
            body = "Hi Ann,\n\n" + text + "Best,\n" + from.name + "\n";
            if (rng.chance(0.3)) body += "\n> " + sentence(rng, vocab, 12) + "\n> " + sentence(rng, vocab, 9) + "\n";
        } else if (kind < 70) {
            // A newsletter: text and HTML alternatives, images, tracking pixels, tracked links.
            const char* tracker = trackerHosts[rng.next() % (sizeof trackerHosts / sizeof *trackerHosts)];
            headers += "Content-Type: multipart/alternative; boundary=\"alt-" + std::to_string(n) + "\"\n";
            std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + subject +
                               "</title><style>td{font-family:sans-serif}</style></head><body><table width=\"600\">";
            html += "<tr><td><img src=\"https://images." + from.email.substr(from.email.find('@') + 1) +
                    "/hero.jpg\" width=\"600\" alt=\"\"></td></tr>";
            const int blocks = rng.range(2, 6);
            for (int b = 0; b < blocks; ++b) {
                html += "<tr><td><h2>" + sentence(rng, vocab, 4) + "</h2><p>" + sentence(rng, vocab, 25) + " " +
                        sentence(rng, vocab, 20) + "</p><p><a href=\"https://" + tracker + "/c/" +
                        std::to_string(rng.next() % 100000) + "\">Read more</a></p></td></tr>";
            }
            html += "<tr><td><a href=\"https://" + std::string(tracker) + "/u\">" +
                    from.email.substr(from.email.find('@') + 1) + "/unsubscribe</a></td></tr></table>";
            html += "<img src=\"https://" + std::string(tracker) + "/open.php?u=" + std::to_string(n) +
                    "\" width=\"1\" height=\"1\" alt=\"\"></body></html>";
            body = "--alt-" + std::to_string(n) + "\nContent-Type: text/plain; charset=utf-8\n\n" + text +
                   "\n--alt-" + std::to_string(n) + "\nContent-Type: text/html; charset=utf-8\n\n" + html +
                   "\n--alt-" + std::to_string(n) + "--\n";
        } else if (kind < 85) {
            // A message with a file attached.
            const std::string b = "mix-" + std::to_string(n);
            const std::string name = capital(vocab.pick(rng)) + "-" + std::to_string(rng.range(1, 999)) +
                                     (rng.chance(0.6) ? ".pdf" : ".docx");
            headers += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n";
            body = "--" + b + "\nContent-Type: text/plain; charset=utf-8\n\n" + text + "\n--" + b +
                   "\nContent-Type: application/octet-stream; name=\"" + name +
                   "\"\nContent-Disposition: attachment; filename=\"" + name +
                   "\"\nContent-Transfer-Encoding: base64\n\n";
            body += base64Lines(rng, static_cast<size_t>(rng.range(4, 120)) * 1024);
            body += "--" + b + "--\n";
        } else if (kind < 95) {
            // HTML with an inline logo shown through cid:.
            const std::string b = "rel-" + std::to_string(n);
            headers += "Content-Type: multipart/related; boundary=\"" + b + "\"\n";
            body = "--" + b + "\nContent-Type: text/html; charset=utf-8\n\n<html><body><img src=\"cid:logo" +
                   std::to_string(n) + "\"><p>" + sentence(rng, vocab, 30) + "</p><p>" + sentence(rng, vocab, 20) +
                   "</p></body></html>\n--" + b +
                   "\nContent-Type: image/png\nContent-ID: <logo" + std::to_string(n) +
                   ">\nContent-Disposition: inline; filename=\"logo.png\"\nContent-Transfer-Encoding: base64\n\n" +
                   base64Lines(rng, 3000) + "--" + b + "--\n";
        } else {
            // Latin-1, quoted-printable.
            headers += "Content-Type: text/plain; charset=ISO-8859-1\nContent-Transfer-Encoding: quoted-printable\n";
            body = "Gr=FC=DFe aus M=FCnchen,\n\n" + text + "Sch=F6ne Gr=FC=DFe\n";
        }

        const std::string message = crlf(headers + "\n" + body);
        const char* account = accounts[rng.next() % 2];
        const char* folder = folders[rng.next() % 6];
        std::tm tm{};
        gmtime_r(&when, &tm);
        const fs::path dir = vault / account / folder / std::to_string(1900 + tm.tm_year);
        fs::create_directories(dir);
        const fs::path file = dir / (std::to_string(n) + ".eml");
        {
            std::ofstream out(file, std::ios::binary);
            out << message;
        }
        struct utimbuf times {when, when};
        utime(file.c_str(), &times);
        std::error_code ec;
        fs::create_hard_link(file, maildir / "cur" / (std::to_string(n) + ".bench:2,S"), ec);

        // Queries: most are one word, the rest two words that occur together.
        if (n % std::max(1, count / 1000) == 0) {
            auto prefix = [&](const std::string& w) {
                // Whole characters only: cut at a UTF-8 lead byte.
                size_t len = std::min(w.size(), static_cast<size_t>(rng.range(3, 7)));
                while (len < w.size() && (static_cast<unsigned char>(w[len]) & 0xC0) == 0x80) ++len;
                return w.substr(0, len);
            };
            std::vector<std::string> words;
            std::string cur;
            for (char c : text) {
                if (c == ' ' || c == '\n' || c == '.') {
                    if (cur.size() >= 3) words.push_back(cur);
                    cur.clear();
                } else {
                    cur += c;
                }
            }
            if (words.size() >= 2) {
                const std::string a = words[rng.next() % words.size()];
                if (rng.chance(0.5))
                    queries << prefix(a) << "\n";
                else
                    queries << prefix(a) << " " << prefix(words[rng.next() % words.size()]) << "\n";
            }
        }
    }
}

}  // namespace bench
