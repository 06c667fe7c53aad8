#include "Corpus.h"

#include <random>

#include <unicode/ucnv.h>
#include <unicode/unistr.h>

namespace {

struct Sample {
    const char* charset;
    const char* text;  // UTF-8
};
const Sample kSamples[] = {
    {"utf-8", "Grüße aus Köln — ✓ Héllo wörld, ça va? 😀"},
    {"iso-8859-1", "Voilà: déjà vu, naïve façade, crème brûlée."},
    {"iso-8859-2", "Příliš žluťoučký kůň úpěl ďábelské ódy."},
    {"koi8-r", "Съешь же ещё этих мягких французских булок, да выпей чаю."},
    {"windows-1251", "Широкая электрификация южных губерний даст мощный толчок."},
    {"windows-1252", "Price: €10 — “quoted” ‘text’… naïve café"},
    {"iso-8859-7", "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία."},
    {"shift_jis", "日本語のテキストです。いろはにほへと ちりぬるを。"},
    {"euc-jp", "いろはにほへと ちりぬるを わかよたれそ つねならむ"},
    {"iso-2022-jp", "明日の会議は十時からです。よろしくお願いします。"},
    {"gb2312", "简体中文测试文本。这是一封测试邮件。"},
    {"big5", "這是繁體中文的測試。謝謝。"},
    {"euc-kr", "다람쥐 헌 쳇바퀴에 타고파. 안녕하세요."},
    {"us-ascii", "The quick brown fox jumps over the lazy dog. 0123456789"},
};

std::string encodeIn(const char* charset, const std::string& utf8) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open(charset, &err);
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(utf8);
    std::string out(static_cast<std::size_t>(u.length()) * 8 + 16, '\0');
    int32_t n = ucnv_fromUChars(c, out.data(), static_cast<int32_t>(out.size()), u.getBuffer(), u.length(), &err);
    ucnv_close(c);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string base64(const std::string& in) {
    static const char* tbl = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(in.size() * 4 / 3 + in.size() / 57 * 2 + 8);
    std::size_t line = 0;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
        if (i + 2 < in.size()) v |= static_cast<uint8_t>(in[i + 2]);
        out += tbl[(v >> 18) & 63];
        out += tbl[(v >> 12) & 63];
        out += i + 1 < in.size() ? tbl[(v >> 6) & 63] : '=';
        out += i + 2 < in.size() ? tbl[v & 63] : '=';
        if (++line == 19) {
            out += "\r\n";
            line = 0;
        }
    }
    out += "\r\n";
    return out;
}

std::string qp(const std::string& in) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    std::size_t col = 0;
    for (unsigned char c : in) {
        std::string piece;
        if (c == '\n') {
            out += "\r\n";
            col = 0;
            continue;
        }
        if ((c >= 33 && c <= 126 && c != '=') || c == ' ') {
            piece = std::string(1, static_cast<char>(c));
        } else {
            piece = {'=', hex[c >> 4], hex[c & 15]};
        }
        if (col + piece.size() > 75) {
            out += "=\r\n";
            col = 0;
        }
        out += piece;
        col += piece.size();
    }
    return out + "\r\n";
}

struct Gen {
    std::mt19937 rng;
    int counter = 0;
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    std::string text(const Sample& s, int paragraphs) {
        std::string t;
        for (int i = 0; i < paragraphs; ++i) {
            for (int k = 0; k < 4; ++k) t += std::string(s.text) + " ";
            t += "\n";
        }
        return t;
    }

    std::string randomBytes(std::size_t n) {
        std::string b(n, '\0');
        for (auto& c : b) c = static_cast<char>(rng() & 0xFF);
        return b;
    }

    std::string textPart(const char* subtype, const Sample& s, int paragraphs) {
        std::string body = encodeIn(s.charset, text(s, paragraphs));
        if (std::string(subtype) == "html") body = "<html><body><p>" + body + "</p></body></html>\n";
        bool useQP = pick(2) == 0;
        return std::string("Content-Type: text/") + subtype + "; charset=\"" + s.charset + "\"\r\n" +
               "Content-Transfer-Encoding: " + (useQP ? "quoted-printable" : "base64") + "\r\n\r\n" +
               (useQP ? qp(body) : base64(body));
    }

    std::string attachment(std::size_t size) {
        static const char* types[] = {"application/pdf", "image/png", "image/jpeg", "application/zip"};
        int k = pick(4);
        return std::string("Content-Type: ") + types[k] + "; name=\"file" + std::to_string(counter) + "\"\r\n" +
               "Content-Disposition: attachment; filename*=utf-8''d%C3%A9j%C3%A0-" + std::to_string(counter) + "\r\n" +
               "Content-Transfer-Encoding: base64\r\n\r\n" + base64(randomBytes(size));
    }

    std::string multipart(const char* subtype, const std::vector<std::string>& parts) {
        std::string b = "b" + std::to_string(++counter) + "_=_" + std::to_string(rng());
        std::string out = std::string("Content-Type: multipart/") + subtype + "; boundary=\"" + b + "\"\r\n\r\n";
        out += "This is a multi-part message in MIME format.\r\n";
        for (const auto& p : parts) out += "--" + b + "\r\n" + p + "\r\n";
        out += "--" + b + "--\r\n";
        return out;
    }

    std::string headers(const Sample& s) {
        std::string subj = encodeIn(s.charset, s.text);
        return "From: =?utf-8?q?J=C3=B6rg_M=C3=BCller?= <jorg@example.org>\r\n"
               "To: \"Doe, John\" <john@example.com>, ann@example.net\r\n"
               "Cc: Friends: a@x.example, b@y.example;\r\n"
               "Subject: =?" + std::string(s.charset) + "?B?" + base64(subj).substr(0, base64(subj).size() - 2) + "?=\r\n"
               "Date: Tue, 5 Mar 2024 09:15:00 +0100\r\n"
               "Message-ID: <msg" + std::to_string(counter) + "@example.org>\r\n"
               "MIME-Version: 1.0\r\n";
    }

    std::string message() {
        ++counter;
        const Sample& s = kSamples[pick(static_cast<int>(std::size(kSamples)))];
        int shape = pick(4);
        int paras = 2 + pick(30);
        std::string h = headers(s);
        switch (shape) {
        case 0:
            return h + textPart("plain", s, paras);
        case 1:
            return h + multipart("alternative", {textPart("plain", s, paras), textPart("html", s, paras)});
        case 2:
            return h + multipart("mixed", {multipart("alternative", {textPart("plain", s, paras), textPart("html", s, paras)}),
                                           attachment(2000 + pick(60000))});
        default:
            return h + multipart("mixed", {textPart("plain", s, paras), attachment(1000 + pick(20000)),
                                           multipart("related", {textPart("html", s, paras), attachment(500 + pick(5000))})});
        }
    }
};

} // namespace

std::vector<std::string> makeCorpus(std::size_t totalBytes, unsigned seed) {
    Gen g{std::mt19937(seed)};
    std::vector<std::string> out;
    std::size_t total = 0;
    while (total < totalBytes) {
        out.push_back(g.message());
        total += out.back().size();
    }
    return out;
}

std::string makeLargeMessage(std::size_t bytes, unsigned seed) {
    Gen g{std::mt19937(seed)};
    const Sample& s = kSamples[0];
    std::vector<std::string> parts{g.multipart("alternative", {g.textPart("plain", s, 200), g.textPart("html", s, 200)})};
    std::size_t each = bytes / 4 * 3 / 4;  // four attachments, base64 grows by 4/3
    for (int i = 0; i < 4; ++i) parts.push_back(g.attachment(each));
    return g.headers(s) + g.multipart("mixed", parts);
}
