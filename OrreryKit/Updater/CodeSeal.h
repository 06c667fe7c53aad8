#pragma once

#include <QByteArray>
#include <QString>

namespace orrery {

// The code seal of an install folder: a manifest at the folder's top that
// lists every entry below it (type, mode, size, SHA-256, link target) and an
// Ed25519 signature over that list. A folder is intact when the signature
// verifies with the key the seal names, every entry matches and nothing
// unlisted exists.
namespace CodeSeal {

// The manifest lines for the folder as it stands (the seal file itself
// excluded); empty with `error` set when an entry cannot be read or is of a
// kind a seal cannot hold.
QByteArray describe(const QString& folder, QString* error = nullptr);

// Writes the seal into the folder, signed with the 32-byte private key.
bool write(const QString& folder, const QByteArray& privateKey, QString* error = nullptr);

// Whether the folder is intact under its seal; `why` says what differs.
bool verify(const QString& folder, QString* why = nullptr);

// Ed25519 helpers for the maker's tool and the tests (raw 32-byte keys).
QByteArray sign(const QByteArray& data, const QByteArray& privateKey);
QByteArray publicKeyFor(const QByteArray& privateKey);
QByteArray newPrivateKey();

} // namespace CodeSeal
} // namespace orrery
