#include "Imap/IMAPFetchItem.h"

#include "Imap/IMAPDate.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

template <typename Values>
std::optional<IMAPFetchItem> build(Values& values, bool moveBody) {
    if (values.size() < 3) return std::nullopt;
    const std::string* seq = values[0].atomText();
    if (!seq) return std::nullopt;
    const std::optional<std::int64_t> sequence = parseSignedDecimal<std::int64_t>(*seq);
    if (!sequence) return std::nullopt;
    const std::optional<std::string> word = values[1].text();
    if (!word || asciiUppercased(*word) != "FETCH") return std::nullopt;
    if (!values[2].isList()) return std::nullopt;

    IMAPFetchItem item;
    item.sequence = *sequence;
    auto& list = values[2].items();
    for (std::size_t i = 0; i + 1 < list.size(); i += 2) {
        const std::string key = asciiUppercased(list[i].text().value_or(std::string()));
        const IMAPValue& value = list[i + 1];
        if (key == "UID") {
            const auto t = value.text();
            item.uid = t ? parseDecimal<std::uint32_t>(*t) : std::nullopt;
        } else if (key == "RFC822.SIZE") {
            const auto t = value.text();
            item.size = t ? parseSignedDecimal<std::int64_t>(*t) : std::nullopt;
        } else if (key == "INTERNALDATE") {
            const auto t = value.text();
            item.internalDate = t ? IMAPDate::parse(*t) : std::nullopt;
        } else if (key == "FLAGS") {
            item.flags.clear();
            for (const IMAPValue& f : value.items())
                if (auto t = f.text()) item.flags.push_back(std::move(*t));
        } else if (key == "RFC822" || key.rfind("BODY[", 0) == 0) {
            if (moveBody)
                item.body = const_cast<IMAPValue&>(value).takeData();
            else
                item.body = value.data();
        }
    }
    return item;
}

}  // namespace

std::optional<IMAPFetchItem> IMAPFetchItem::fromValues(const std::vector<IMAPValue>& values) {
    return build(values, false);
}

std::optional<IMAPFetchItem> IMAPFetchItem::fromValues(std::vector<IMAPValue>&& values) {
    return build(values, true);
}

}  // namespace bx
