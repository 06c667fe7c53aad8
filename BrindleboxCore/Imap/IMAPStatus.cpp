#include "Imap/IMAPStatus.h"

namespace bx {

std::string_view rawValue(IMAPStatus status) {
    switch (status) {
        case IMAPStatus::ok: return "OK";
        case IMAPStatus::no: return "NO";
        case IMAPStatus::bad: return "BAD";
        case IMAPStatus::preauth: return "PREAUTH";
        case IMAPStatus::bye: return "BYE";
    }
    return "OK";
}

std::optional<IMAPStatus> imapStatusFromRawValue(std::string_view text) {
    if (text == "OK") return IMAPStatus::ok;
    if (text == "NO") return IMAPStatus::no;
    if (text == "BAD") return IMAPStatus::bad;
    if (text == "PREAUTH") return IMAPStatus::preauth;
    if (text == "BYE") return IMAPStatus::bye;
    return std::nullopt;
}

}  // namespace bx
