#include "Imap/IMAPResponse.h"

namespace bx {

IMAPResponse IMAPResponse::tagged(std::string tag, IMAPStatus status, std::optional<std::string> code,
                                  std::string text) {
    IMAPResponse r;
    r.kind = Kind::tagged;
    r.tag = std::move(tag);
    r.status = status;
    r.code = std::move(code);
    r.text = std::move(text);
    return r;
}

IMAPResponse IMAPResponse::untaggedStatus(IMAPStatus status, std::optional<std::string> code, std::string text) {
    IMAPResponse r;
    r.kind = Kind::untaggedStatus;
    r.status = status;
    r.code = std::move(code);
    r.text = std::move(text);
    return r;
}

IMAPResponse IMAPResponse::untagged(std::vector<IMAPValue> values) {
    IMAPResponse r;
    r.kind = Kind::untagged;
    r.values = std::move(values);
    return r;
}

IMAPResponse IMAPResponse::continuation(std::string text) {
    IMAPResponse r;
    r.kind = Kind::continuation;
    r.text = std::move(text);
    return r;
}

}  // namespace bx
