#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace orrery {

struct SystemVersion {
  qint64 major = 0, minor = 0, patch = 0;
};

// The pure rules the updater applies to a feed.
namespace UpdateLogic {

// True when `candidate` orders strictly after `current`: digit runs compare
// by numeric value (any length), everything else by character value.
bool isNewer(const QString& candidate, const QString& current);

// True when `system` is at least the dotted minimum; pieces that are not
// whole numbers are dropped, an absent or empty minimum is always met.
bool systemSupports(const std::optional<QString>& minimum, SystemVersion system);

// Ed25519 (RFC 8032, no pre-hash) over all of `data`; the key is the base64
// of the 32-byte raw key. Every failure is false.
bool verify(const QByteArray& data, const QString& signature, const QString& publicKey);

// Standard-alphabet base64 with "=" padding; anything else (white space,
// line breaks, missing padding) is undecodable.
std::optional<QByteArray> decodeBase64Strict(const QString& text);

// Whether a version (or identifier) can be used unchanged as one folder
// name and in a settings key: 1 to 64 of [0-9A-Za-z.+-], not "." or "..".
bool isSafeName(const QString& name);

// The running system's version as the feed's minimum is compared with it:
// the C library's version.
SystemVersion runningSystem();

} // namespace UpdateLogic
} // namespace orrery
