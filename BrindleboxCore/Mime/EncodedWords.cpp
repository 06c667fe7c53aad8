#include "Mime/EncodedWords.h"

#include "Mime/Charsets.h"
#include "Mime/MimeText.h"
#include "Mime/TransferDecoding.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

// Finds the next occurrence of a needle at or after a position. Remembers its
// last answer, so a run of attempts that all look for the same far-away (or
// missing) delimiter costs one scan instead of one scan each: hostile values such
// as thousands of "=?" without "?=" stay linear.
class ForwardFinder {
public:
    ForwardFinder(std::string_view hay, std::string_view needle) : hay_(hay), needle_(needle) {}
    std::size_t find(std::size_t from) {
        if (valid_ && from >= lastFrom_ && (result_ == std::string_view::npos || from <= result_)) return result_;
        lastFrom_ = from;
        result_ = hay_.find(needle_, from);
        valid_ = true;
        return result_;
    }

private:
    std::string_view hay_, needle_;
    std::size_t lastFrom_ = 0, result_ = 0;
    bool valid_ = false;
};

struct Word {
    std::string charset;
    std::string bytes;
    std::size_t end = 0;  // index just past "?="
};

}  // namespace

std::string EncodedWords::decode(std::string_view value) {
    if (value.find("=?") == std::string_view::npos) return std::string(value);

    ForwardFinder charsetEnd(value, "?"), encodingEnd(value, "?"), textEnd(value, "?="), space(value, " ");
    auto readWord = [&](std::size_t at, Word& w) -> bool {
        std::size_t csStart = at + 2;
        std::size_t q1 = charsetEnd.find(csStart);
        if (q1 == std::string_view::npos) return false;
        std::size_t q2 = encodingEnd.find(q1 + 1);
        if (q2 == std::string_view::npos) return false;
        std::size_t qe = textEnd.find(q2 + 1);
        if (qe == std::string_view::npos) return false;
        std::string_view cs = value.substr(csStart, q1 - csStart);
        if (auto star = cs.find('*'); star != std::string_view::npos) cs = cs.substr(0, star);
        std::string enc = asciiUppercased(value.substr(q1 + 1, q2 - q1 - 1));
        std::string_view text = value.substr(q2 + 1, qe - q2 - 1);
        if (space.find(q2 + 1) < qe) return false;
        if (enc == "B") {
            w.bytes = TransferDecoding::base64(text);
        } else if (enc == "Q") {
            std::string t(text);
            for (char& c : t)
                if (c == '_') c = ' ';
            w.bytes = TransferDecoding::quotedPrintable(t, false);
        } else {
            return false;
        }
        w.charset.assign(cs);
        w.end = qe + 2;
        return true;
    };

    std::string out;
    out.reserve(value.size());
    std::string pendingWS;
    std::string buffer;
    std::string bufferCharset;
    bool haveBuffer = false;
    bool lastWasWord = false;

    auto flush = [&] {
        if (!haveBuffer) return;
        out += Charsets::string(buffer, bufferCharset);
        buffer.clear();
        haveBuffer = false;
    };

    const std::size_t n = value.size();
    std::size_t i = 0;
    Word w;
    while (i < n) {
        char c = value[i];
        if (c == '=' && i + 1 < n && value[i + 1] == '?' && readWord(i, w)) {
            if (haveBuffer && lowercased(bufferCharset) != lowercased(w.charset)) flush();
            if (!lastWasWord) out += pendingWS;
            pendingWS.clear();
            buffer += w.bytes;
            bufferCharset = w.charset;
            haveBuffer = true;
            lastWasWord = true;
            i = w.end;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            pendingWS.push_back(' ');
            ++i;
            continue;
        }
        flush();
        out += pendingWS;
        pendingWS.clear();
        // Copy the run of ordinary bytes up to the next special one.
        std::size_t j = i + 1;
        while (j < n) {
            char d = value[j];
            if (d == ' ' || d == '\t' || d == '\r' || d == '\n' || d == '=') break;
            ++j;
        }
        out.append(value.substr(i, j - i));
        lastWasWord = false;
        i = j;
    }
    flush();
    out += pendingWS;
    return out;
}

}  // namespace bx
