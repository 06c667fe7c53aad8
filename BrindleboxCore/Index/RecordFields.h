#pragma once
// MessageRecord's fields under their index.json names, listed once: the
// streaming writer, the document codec and index.json's decoder all walk
// this table, so a field added here is written and read everywhere alike.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Index/MessageRecord.h"

namespace bx::recordfields {

// What a field's JSON value is: the member it lands in tells the type. A
// Date is ISO-8601 text, a SenderTrust its raw value, the optional string
// the one field that may be absent or null.
using Member = std::variant<int64_t MessageRecord::*, std::string MessageRecord::*, Date MessageRecord::*,
                            SenderTrust MessageRecord::*, bool MessageRecord::*, double MessageRecord::*,
                            std::optional<std::string> MessageRecord::*>;

struct Field {
    std::string_view name;
    Member member;

    bool required() const { return !std::holds_alternative<std::optional<std::string> MessageRecord::*>(member); }
};

// In the order index.json has always written them.
inline constexpr std::array<Field, 19> fields = {{
    {"id", &MessageRecord::id},
    {"path", &MessageRecord::path},
    {"account", &MessageRecord::account},
    {"folder", &MessageRecord::folder},
    {"subject", &MessageRecord::subject},
    {"fromName", &MessageRecord::fromName},
    {"fromEmail", &MessageRecord::fromEmail},
    {"to", &MessageRecord::to},
    {"date", &MessageRecord::date},
    {"size", &MessageRecord::size},
    {"snippet", &MessageRecord::snippet},
    {"attachments", &MessageRecord::attachments},
    {"trackers", &MessageRecord::trackers},
    {"remoteImages", &MessageRecord::remoteImages},
    {"trust", &MessageRecord::trust},
    {"replyToMismatch", &MessageRecord::replyToMismatch},
    {"linkWarnings", &MessageRecord::linkWarnings},
    {"mtime", &MessageRecord::mtime},
    {"senderFlag", &MessageRecord::senderFlag},
}};

static_assert(fields.size() < 32, "the decoder keeps one bit per field");

constexpr uint32_t requiredMask() {
    uint32_t m = 0;
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].required()) m |= 1u << i;
    return m;
}

// The field named `key`, or -1. `hint` is tried first: keys usually come in
// the table's order, so one comparison mostly does.
inline int fieldIndex(std::string_view key, int hint = 0) {
    if (hint >= 0 && hint < static_cast<int>(fields.size()) && fields[static_cast<size_t>(hint)].name == key)
        return hint;
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name == key) return static_cast<int>(i);
    return -1;
}

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace bx::recordfields
