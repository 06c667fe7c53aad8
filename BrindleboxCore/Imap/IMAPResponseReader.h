#pragma once

#include "Imap/IMAPParseError.h"
#include "Imap/IMAPResponse.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace bx {

// Buffers received bytes and cuts them into complete responses: a line plus
// every literal ({n} then n raw bytes) it announces, and the lines after them.
// One reader per connection; not shared between threads.
class IMAPResponseReader {
public:
    // Limits against a hostile or broken server. Exceeding one makes
    // nextRawResponse()/next() throw IMAPParseError; the stream cannot be
    // resynchronised after that, so the connection should be dropped.
    static constexpr std::int64_t maxLiteralLength = std::int64_t(512) << 20;  // 512 MiB
    static constexpr std::size_t maxLineLength = std::size_t(64) << 20;        // one line, literals excluded
    static constexpr std::size_t maxResponseLength = std::size_t(1) << 30;     // 1 GiB, literals included
    // Consumed bytes are dropped once more than this many have piled up (and
    // they are at least as many as the bytes still held), or when everything
    // buffered has been consumed.
    static constexpr std::size_t compactThreshold = std::size_t(1) << 20;

    IMAPResponseReader() = default;

    void append(std::span<const std::uint8_t> bytes);
    void append(const std::vector<std::uint8_t>& bytes) { append(std::span<const std::uint8_t>(bytes)); }
    void append(std::string_view bytes) {
        append(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }
    void append(const std::uint8_t* bytes, std::size_t count) { append(std::span<const std::uint8_t>(bytes, count)); }

    // Bytes held and not yet consumed.
    std::size_t bufferedByteCount() const { return buffer_.size() - start_; }

    // The next complete response without its final line end, or absent when
    // none is complete yet (nothing is consumed then). Throws IMAPParseError
    // only when a limit above is exceeded.
    std::optional<std::vector<std::uint8_t>> nextRawResponse();

    // nextRawResponse() parsed. A parse error is thrown after the response has
    // been consumed, so the reader stays on the response that follows.
    std::optional<IMAPResponse> next();

    // For tests: the internal buffer length and consumed-prefix index.
    std::size_t bufferLength() const { return buffer_.size(); }
    std::size_t startIndex() const { return start_; }

private:
    struct Cut {
        std::size_t end;        // end of the last line's content
        std::size_t nextStart;  // just after the last LF
    };
    std::optional<Cut> findCut();
    void consume(const Cut& cut);
    void compactIfNeeded();
    // Length announced by "{n}" or "{n+}" at the very end of the content
    // [lineStart, contentEnd), or absent.
    std::optional<std::int64_t> literalLength(std::size_t contentEnd, std::size_t lineStart) const;

    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;

    // Where an unfinished scan stopped, so bytes already looked at are not
    // scanned again when more arrive. Only meaningful while scanValid_ is set;
    // any consumption resets it.
    bool scanValid_ = false;
    std::size_t scanLineStart_ = 0;
    std::size_t scanFrom_ = 0;
};

}  // namespace bx
