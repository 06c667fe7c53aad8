#include "Platform/Credentials.h"

namespace bx {

std::optional<std::filesystem::path> Credentials::file() { return std::nullopt; }
bool Credentials::usesKeychain() { return true; }
std::string Credentials::key(const MailAccount& account) {
  return account.username + "@" + account.server.host + ":" + std::to_string(account.server.port);
}
void Credentials::save(const QString& password, const MailAccount& account) { (void)password; (void)account; }
void Credentials::remove(const MailAccount& account) { (void)account; }
std::optional<QString> Credentials::password(const MailAccount& account) { (void)account; return std::nullopt; }
void Credentials::resetMemory() {}

QString Keychain::labelText(const MailAccount& account) {
  return QStringLiteral("Brindlebox – ") + QString::fromStdString(account.username);
}
QString Keychain::commentText() { return QStringLiteral("App-specific password used by Brindlebox to back up mail"); }
void Keychain::save(const QString& password, const MailAccount& account) { (void)password; (void)account; }
std::optional<QString> Keychain::password(const MailAccount& account) { (void)account; return std::nullopt; }
void Keychain::remove(const MailAccount& account) { (void)account; }

}  // namespace bx
