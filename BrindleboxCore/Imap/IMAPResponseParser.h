#pragma once

#include "Imap/IMAPParseError.h"
#include "Imap/IMAPResponse.h"
#include "Imap/IMAPValue.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bx {

// Turns one complete response (as cut by IMAPResponseReader, without its final
// line end) into an IMAPResponse. Throws IMAPParseError.
struct IMAPResponseParser {
    // Lists deeper than this are refused, so a hostile server cannot exhaust
    // the stack.
    static constexpr int maxListDepth = 64;

    static IMAPResponse parse(std::span<const std::uint8_t> bytes);
    static IMAPResponse parse(const std::vector<std::uint8_t>& bytes) {
        return parse(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
    }
    static IMAPResponse parse(std::string_view bytes) {
        return parse(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }

    // Every value of a text, one after another, SPs between them skipped.
    static std::vector<IMAPValue> tokens(std::string_view text);

    // A read position over the bytes of one response.
    class Scanner {
    public:
        // `base`: where `bytes` starts in the whole response, so that errors
        // give offsets in the response.
        explicit Scanner(std::span<const std::uint8_t> bytes, std::size_t base = 0) : bytes_(bytes), base_(base) {}

        std::size_t position() const { return pos_; }
        bool atEnd() const { return pos_ >= bytes_.size(); }

        void skipSpaces();
        // The longest run of non-SP bytes at the position, decoded as UTF-8;
        // absent at the end or at a SP.
        std::optional<std::string> readWord();
        struct CodeAndText {
            std::optional<std::string> code;
            std::string text;
        };
        CodeAndText readCodeAndText();
        IMAPValue readValue();
        // Everything from the position to the end, decoded as UTF-8.
        std::string readRest();

    private:
        IMAPValue readValue(int depth);
        IMAPValue readQuoted();
        IMAPValue readList(int depth);
        IMAPValue readLiteral();
        IMAPValue readAtom();
        [[noreturn]] void fail(std::string description, std::size_t at) const;

        std::span<const std::uint8_t> bytes_;
        std::size_t base_ = 0;
        std::size_t pos_ = 0;
    };
};

}  // namespace bx
