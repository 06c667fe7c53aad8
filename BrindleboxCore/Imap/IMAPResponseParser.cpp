#include "Imap/IMAPResponseParser.h"

#include "Imap/IMAPText.h"
#include "Util/Unicode.h"

#include <limits>

namespace bx {

namespace {

constexpr std::uint8_t SP = ' ';
constexpr std::uint8_t CR = '\r';
constexpr std::uint8_t LF = '\n';

std::string decode(std::span<const std::uint8_t> bytes, std::size_t from, std::size_t to) {
    return lossyUTF8(std::string_view(reinterpret_cast<const char*>(bytes.data()) + from, to - from));
}

// The byte taken as a code point, written as UTF-8.
std::string characterOf(std::uint8_t byte) {
    return imaptext::latin1ToUTF8(&byte, 1);
}

}  // namespace

void IMAPResponseParser::Scanner::fail(std::string description, std::size_t at) const {
    throw IMAPParseError(std::move(description), base_ + at);
}

void IMAPResponseParser::Scanner::skipSpaces() {
    while (pos_ < bytes_.size() && bytes_[pos_] == SP) ++pos_;
}

std::optional<std::string> IMAPResponseParser::Scanner::readWord() {
    const std::size_t from = pos_;
    while (pos_ < bytes_.size() && bytes_[pos_] != SP) ++pos_;
    if (pos_ == from) return std::nullopt;
    return decode(bytes_, from, pos_);
}

std::string IMAPResponseParser::Scanner::readRest() {
    std::string rest = decode(bytes_, pos_, bytes_.size());
    pos_ = bytes_.size();
    return rest;
}

IMAPResponseParser::Scanner::CodeAndText IMAPResponseParser::Scanner::readCodeAndText() {
    CodeAndText out;
    if (pos_ < bytes_.size() && bytes_[pos_] == '[') {
        const std::size_t codeStart = pos_ + 1;
        std::size_t i = codeStart;
        long depth = 1;
        for (; i < bytes_.size(); ++i) {
            if (bytes_[i] == '[') {
                ++depth;
            } else if (bytes_[i] == ']') {
                if (--depth == 0) break;
            }
        }
        if (i >= bytes_.size()) {
            out.code = decode(bytes_, codeStart, bytes_.size());
            pos_ = bytes_.size();
            return out;
        }
        out.code = decode(bytes_, codeStart, i);
        pos_ = i + 1;
        skipSpaces();
    }
    out.text = readRest();
    return out;
}

IMAPValue IMAPResponseParser::Scanner::readValue() {
    return readValue(0);
}

IMAPValue IMAPResponseParser::Scanner::readValue(int depth) {
    if (pos_ >= bytes_.size()) fail("unexpected end", pos_);
    switch (bytes_[pos_]) {
        case '"': return readQuoted();
        case '(': return readList(depth + 1);
        case '{': return readLiteral();
        default: return readAtom();
    }
}

IMAPValue IMAPResponseParser::Scanner::readQuoted() {
    ++pos_;  // opening quote
    IMAPValue::Bytes out;
    while (true) {
        if (pos_ >= bytes_.size()) fail("unterminated string", pos_);
        const std::uint8_t b = bytes_[pos_];
        if (b == '"') {
            ++pos_;
            return IMAPValue::string(std::move(out));
        }
        if (b == '\\') {
            ++pos_;
            if (pos_ >= bytes_.size()) fail("unterminated string", pos_);
        }
        out.push_back(bytes_[pos_]);
        ++pos_;
    }
}

IMAPValue IMAPResponseParser::Scanner::readList(int depth) {
    if (depth > maxListDepth) fail("lists nested too deeply", pos_);
    ++pos_;  // "("
    std::vector<IMAPValue> items;
    while (true) {
        skipSpaces();
        if (pos_ >= bytes_.size()) fail("unterminated list", pos_);
        if (bytes_[pos_] == ')') {
            ++pos_;
            return IMAPValue::list(std::move(items));
        }
        items.push_back(readValue(depth));
    }
}

IMAPValue IMAPResponseParser::Scanner::readLiteral() {
    ++pos_;  // "{"
    const std::size_t digitsStart = pos_;
    std::int64_t n = 0;
    bool overflow = false;
    while (pos_ < bytes_.size() && bytes_[pos_] >= '0' && bytes_[pos_] <= '9') {
        const int d = bytes_[pos_] - '0';
        if (n > (std::numeric_limits<std::int64_t>::max() - d) / 10)
            overflow = true;
        else
            n = n * 10 + d;
        ++pos_;
    }
    if (pos_ == digitsStart || overflow) fail("bad literal", pos_);
    if (pos_ < bytes_.size() && bytes_[pos_] == '+') ++pos_;
    if (pos_ >= bytes_.size() || bytes_[pos_] != '}') fail("bad literal close", pos_);
    ++pos_;
    if (pos_ < bytes_.size() && bytes_[pos_] == CR) ++pos_;
    if (pos_ < bytes_.size() && bytes_[pos_] == LF) ++pos_;
    // Compared against what remains, never as pos + n, which could overflow.
    const std::size_t remaining = bytes_.size() - pos_;
    if (std::uint64_t(n) > remaining) fail("short literal", pos_);
    IMAPValue::Bytes data(bytes_.begin() + std::ptrdiff_t(pos_),
                          bytes_.begin() + std::ptrdiff_t(pos_ + std::size_t(n)));
    pos_ += std::size_t(n);
    return IMAPValue::string(std::move(data));
}

IMAPValue IMAPResponseParser::Scanner::readAtom() {
    const std::size_t from = pos_;
    long brackets = 0;
    while (pos_ < bytes_.size()) {
        const std::uint8_t b = bytes_[pos_];
        if (brackets == 0 && (b == SP || b == '(' || b == ')' || b == CR || b == LF)) break;
        if (b == '[')
            ++brackets;
        else if (b == ']')
            --brackets;
        ++pos_;
    }
    if (pos_ == from) {
        // Only ")", CR or LF can end an atom before it starts ("(" opens a list).
        fail("unexpected character " + characterOf(bytes_[pos_]), pos_);
    }
    // NIL is a protocol word: only ASCII letters fold, so "n\u0131l" stays an atom.
    if (pos_ - from == 3) {
        const auto lower = [](std::uint8_t b) { return std::uint8_t(b | 0x20); };
        if (lower(bytes_[from]) == 'n' && lower(bytes_[from + 1]) == 'i' && lower(bytes_[from + 2]) == 'l')
            return IMAPValue::nil();
    }
    std::string text = decode(bytes_, from, pos_);
    return IMAPValue::atom(std::move(text));
}

IMAPResponse IMAPResponseParser::parse(std::span<const std::uint8_t> bytes) {
    Scanner s(bytes);
    if (!bytes.empty() && bytes[0] == '+') {
        Scanner rest(bytes.subspan(1));
        rest.skipSpaces();
        return IMAPResponse::continuation(rest.readRest());
    }
    std::optional<std::string> first = s.readWord();
    if (!first) throw IMAPParseError("empty response", 0);
    s.skipSpaces();
    if (*first == "*") {
        const std::size_t afterStar = s.position();
        if (std::optional<std::string> second = s.readWord()) {
            if (auto status = imapStatusFromRawValue(asciiUppercased(*second))) {
                s.skipSpaces();
                auto ct = s.readCodeAndText();
                return IMAPResponse::untaggedStatus(*status, std::move(ct.code), std::move(ct.text));
            }
        }
        // Not a status: re-read from just after "*" and its spaces.
        Scanner values(bytes.subspan(afterStar), afterStar);
        std::vector<IMAPValue> out;
        while (true) {
            values.skipSpaces();
            if (values.atEnd()) break;
            out.push_back(values.readValue());
        }
        return IMAPResponse::untagged(std::move(out));
    }
    const std::size_t statusAt = s.position();
    std::optional<std::string> second = s.readWord();
    std::optional<IMAPStatus> status;
    if (second) status = imapStatusFromRawValue(asciiUppercased(*second));
    if (!status) {
        const std::size_t shown = bytes.size() < 80 ? bytes.size() : 80;
        throw IMAPParseError("bad tagged response: " + decode(bytes, 0, shown), statusAt);
    }
    s.skipSpaces();
    auto ct = s.readCodeAndText();
    return IMAPResponse::tagged(std::move(*first), *status, std::move(ct.code), std::move(ct.text));
}

std::vector<IMAPValue> IMAPResponseParser::tokens(std::string_view text) {
    Scanner s(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    std::vector<IMAPValue> out;
    while (true) {
        s.skipSpaces();
        if (s.atEnd()) break;
        out.push_back(s.readValue());
    }
    return out;
}

}  // namespace bx
