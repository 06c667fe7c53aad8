#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace bx {

// One value of a server response: an unquoted atom, a string (quoted or
// literal, raw bytes), a parenthesised list, or NIL.
class IMAPValue {
public:
    using Bytes = std::vector<std::uint8_t>;
    enum class Kind { atom, string, list, nil };

    IMAPValue() : v_(Nil{}) {}

    static IMAPValue atom(std::string text);
    static IMAPValue string(Bytes bytes);
    static IMAPValue string(std::string_view bytes);
    static IMAPValue list(std::vector<IMAPValue> items);
    static IMAPValue nil();

    Kind kind() const;
    bool isAtom() const { return kind() == Kind::atom; }
    bool isString() const { return kind() == Kind::string; }
    bool isList() const { return kind() == Kind::list; }
    bool isNil() const { return kind() == Kind::nil; }

    // An atom's text; a string's bytes as UTF-8, or as ISO Latin 1 when they
    // are not valid UTF-8. Absent for a list and for NIL.
    std::optional<std::string> text() const;
    // A string's bytes; an atom's text as UTF-8 bytes. Absent for a list and NIL.
    std::optional<Bytes> data() const;
    // A list's elements; empty for every other kind.
    const std::vector<IMAPValue>& items() const;

    // An atom's text without a copy; null for every other kind.
    const std::string* atomText() const { return std::get_if<std::string>(&v_); }
    // Moves a string's bytes out (or an atom's text as bytes); the value is
    // left as an empty value of the same kind. Absent for a list and NIL.
    std::optional<Bytes> takeData();

    friend bool operator==(const IMAPValue& a, const IMAPValue& b) { return a.v_ == b.v_; }

private:
    struct Nil {
        friend bool operator==(const Nil&, const Nil&) { return true; }
    };
    using Storage = std::variant<std::string, Bytes, std::vector<IMAPValue>, Nil>;
    explicit IMAPValue(Storage v) : v_(std::move(v)) {}
    Storage v_;
};

}  // namespace bx
