#include "Imap/IMAPValue.h"

#include "Imap/IMAPText.h"
#include "Util/Unicode.h"

namespace bx {

IMAPValue IMAPValue::atom(std::string text) {
    return IMAPValue(Storage(std::in_place_index<0>, std::move(text)));
}

IMAPValue IMAPValue::string(Bytes bytes) {
    return IMAPValue(Storage(std::in_place_index<1>, std::move(bytes)));
}

IMAPValue IMAPValue::string(std::string_view bytes) {
    return IMAPValue(Storage(std::in_place_index<1>, Bytes(bytes.begin(), bytes.end())));
}

IMAPValue IMAPValue::list(std::vector<IMAPValue> items) {
    return IMAPValue(Storage(std::in_place_index<2>, std::move(items)));
}

IMAPValue IMAPValue::nil() {
    return IMAPValue();
}

IMAPValue::Kind IMAPValue::kind() const {
    switch (v_.index()) {
        case 0: return Kind::atom;
        case 1: return Kind::string;
        case 2: return Kind::list;
        default: return Kind::nil;
    }
}

std::optional<std::string> IMAPValue::text() const {
    if (const auto* a = std::get_if<std::string>(&v_)) return *a;
    if (const auto* b = std::get_if<Bytes>(&v_)) {
        std::string_view bytes(reinterpret_cast<const char*>(b->data()), b->size());
        if (isValidUTF8(bytes)) return std::string(bytes);
        return imaptext::latin1ToUTF8(b->data(), b->size());
    }
    return std::nullopt;
}

std::optional<IMAPValue::Bytes> IMAPValue::data() const {
    if (const auto* a = std::get_if<std::string>(&v_)) return Bytes(a->begin(), a->end());
    if (const auto* b = std::get_if<Bytes>(&v_)) return *b;
    return std::nullopt;
}

std::optional<IMAPValue::Bytes> IMAPValue::takeData() {
    if (auto* a = std::get_if<std::string>(&v_)) {
        Bytes out(a->begin(), a->end());
        a->clear();
        return out;
    }
    if (auto* b = std::get_if<Bytes>(&v_)) {
        Bytes out = std::move(*b);
        b->clear();
        return out;
    }
    return std::nullopt;
}

const std::vector<IMAPValue>& IMAPValue::items() const {
    static const std::vector<IMAPValue> empty;
    if (const auto* l = std::get_if<std::vector<IMAPValue>>(&v_)) return *l;
    return empty;
}

}  // namespace bx
