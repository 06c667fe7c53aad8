#pragma once

#include <QString>

namespace bx {

// A path as the user reads it: a leading home folder becomes "~" when it is
// followed by "/" or ends the path. "/u/alice/Vault" under home "/u/al"
// stays as it is.
QString tildePath(const QString& path, const QString& home);
// The same with the user's home folder.
QString tildePath(const QString& path);

} // namespace bx
