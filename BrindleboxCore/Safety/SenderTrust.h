#pragma once
// The sender authentication verdict, read from what the receiving server
// recorded in Authentication-Results. Nothing here checks signatures or DNS.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Mime/MIMEHeaders.h"

namespace bx {

class SenderTrust {
public:
    enum Value { verified, failed, partial, unknown };

    constexpr SenderTrust(Value v = unknown) : value_(v) {}
    constexpr operator Value() const { return value_; }

    // Exactly "verified", "failed", "partial" or "unknown"; nullopt otherwise.
    static std::optional<SenderTrust> fromRawValue(std::string_view raw);
    std::string_view rawValue() const;

    // Results that count as failures: "fail", "softfail", "permerror", "hardfail".
    static bool isFailingResult(std::string_view result);

    // The verdict and the per-method results ("spf", "dkim", "dmarc" to the
    // lower-cased result word) from the first Authentication-Results field,
    // or the first ARC-Authentication-Results field when there is none.
    // Without a DMARC pass, SPF and DKIM passing make `verified` only when
    // both name the From address's registrable domain (SPF smtp.mailfrom,
    // DKIM header.d or header.i); otherwise the verdict is `partial`.
    static std::pair<SenderTrust, std::map<std::string, std::string>> from(const MIMEHeaders& headers);

private:
    Value value_;
};

}  // namespace bx
