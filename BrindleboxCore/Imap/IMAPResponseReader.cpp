#include "Imap/IMAPResponseReader.h"

#include "Imap/IMAPResponseParser.h"

#include <cstring>
#include <limits>
#include <string>

namespace bx {

void IMAPResponseReader::append(std::span<const std::uint8_t> bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<std::int64_t> IMAPResponseReader::literalLength(std::size_t contentEnd, std::size_t lineStart) const {
    if (contentEnd <= lineStart) return std::nullopt;
    std::size_t i = contentEnd - 1;
    if (buffer_[i] != '}') return std::nullopt;
    if (i == lineStart) return std::nullopt;
    --i;
    if (buffer_[i] == '+') {
        if (i == lineStart) return std::nullopt;
        --i;
    }
    const std::size_t digitsEnd = i + 1;
    while (buffer_[i] >= '0' && buffer_[i] <= '9') {
        if (i == lineStart) return std::nullopt;  // no room for "{"
        --i;
    }
    if (i + 1 == digitsEnd || buffer_[i] != '{') return std::nullopt;
    std::int64_t n = 0;
    for (std::size_t k = i + 1; k < digitsEnd; ++k) {
        const int d = buffer_[k] - '0';
        if (n > (std::numeric_limits<std::int64_t>::max() - d) / 10) return std::nullopt;
        n = n * 10 + d;
    }
    return n;
}

std::optional<IMAPResponseReader::Cut> IMAPResponseReader::findCut() {
    const std::size_t size = buffer_.size();
    if (start_ >= size) return std::nullopt;
    std::size_t lineStart = scanValid_ ? scanLineStart_ : start_;
    std::size_t from = scanValid_ ? scanFrom_ : start_;
    while (true) {
        if (from >= size) {
            // Waiting for literal bytes or for the line after a literal.
            scanValid_ = true;
            scanLineStart_ = lineStart;
            scanFrom_ = from;
            return std::nullopt;
        }
        const void* hit = std::memchr(buffer_.data() + from, '\n', size - from);
        if (!hit) {
            if (size - lineStart > maxLineLength)
                throw IMAPParseError("response line too long", lineStart + maxLineLength - start_);
            scanValid_ = true;
            scanLineStart_ = lineStart;
            scanFrom_ = size;
            return std::nullopt;
        }
        const std::size_t lf = std::size_t(static_cast<const std::uint8_t*>(hit) - buffer_.data());
        if (lf - lineStart > maxLineLength)
            throw IMAPParseError("response line too long", lineStart + maxLineLength - start_);
        const std::size_t contentEnd = (lf > lineStart && buffer_[lf - 1] == '\r') ? lf - 1 : lf;
        const std::optional<std::int64_t> n = literalLength(contentEnd, lineStart);
        if (!n) return Cut{contentEnd, lf + 1};
        if (*n > maxLiteralLength)
            throw IMAPParseError("literal too large: " + std::to_string(*n) + " bytes", lf - start_);
        const std::size_t dataStart = lf + 1;
        if (dataStart - start_ > maxResponseLength - std::size_t(*n))
            throw IMAPParseError("response too large", dataStart - start_);
        // The literal's bytes are skipped, never searched for line ends; the
        // next line starts right after them (possibly beyond what has arrived).
        lineStart = dataStart + std::size_t(*n);
        from = lineStart;
    }
}

void IMAPResponseReader::consume(const Cut& cut) {
    start_ = cut.nextStart;
    scanValid_ = false;
}

void IMAPResponseReader::compactIfNeeded() {
    if (start_ == buffer_.size()) {
        buffer_.clear();
        // Do not hold on to the room a very large body needed.
        if (buffer_.capacity() > (std::size_t(16) << 20)) buffer_.shrink_to_fit();
        start_ = 0;
    } else if (start_ > compactThreshold && start_ >= buffer_.size() - start_) {
        // Only once the dropped prefix is at least as long as what is moved,
        // so that a large buffered backlog is not shifted again and again.
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(start_));
        start_ = 0;
    }
}

std::optional<std::vector<std::uint8_t>> IMAPResponseReader::nextRawResponse() {
    const std::optional<Cut> cut = findCut();
    if (!cut) return std::nullopt;
    std::vector<std::uint8_t> raw(buffer_.begin() + std::ptrdiff_t(start_), buffer_.begin() + std::ptrdiff_t(cut->end));
    consume(*cut);
    compactIfNeeded();
    return raw;
}

std::optional<IMAPResponse> IMAPResponseReader::next() {
    const std::optional<Cut> cut = findCut();
    if (!cut) return std::nullopt;
    const std::size_t from = start_;
    consume(*cut);
    // Parsed in place, without a copy of the raw bytes; compaction waits
    // until the parser is done with them, also when it throws.
    struct CompactAfter {
        IMAPResponseReader* reader;
        ~CompactAfter() { reader->compactIfNeeded(); }
    } compactAfter{this};
    return IMAPResponseParser::parse(std::span<const std::uint8_t>(buffer_.data() + from, cut->end - from));
}

}  // namespace bx
