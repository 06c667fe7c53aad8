#pragma once
// Where account passwords live. Normally one Secret Service item per account
// (the user's keyring); with BRINDLEBOX_CREDENTIALS_FILE a JSON file of
// key -> password; in demo and screenshot runs an in-memory map only, so
// those runs never touch the user's keyring.

#include "Vault/MailAccount.h"

#include <QString>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace bx {

// A password could not be stored; what() is the text to show.
class CredentialError : public std::runtime_error {
public:
  explicit CredentialError(const std::string& what) : std::runtime_error(what) {}
};

struct Credentials {
  // BRINDLEBOX_CREDENTIALS_FILE as a path; nullopt when absent. Read anew on every use.
  static std::optional<std::filesystem::path> file();
  // False with a credential file, or in demo and screenshot runs.
  static bool usesKeychain();
  // username + "@" + host + ":" + port.
  static std::string key(const MailAccount& account);
  // Throws CredentialError.
  static void save(const QString& password, const MailAccount& account);
  // Never throws.
  static void remove(const MailAccount& account);
  static std::optional<QString> password(const MailAccount& account);
  // Forgets the in-memory map (tests).
  static void resetMemory();
};

// The Secret Service item of an account: attributes server, account, port
// and protocol "imaps" are its identity.
struct Keychain {
  static QString labelText(const MailAccount& account);
  static QString commentText();
  // Replaces the item in place. Throws CredentialError.
  static void save(const QString& password, const MailAccount& account);
  static std::optional<QString> password(const MailAccount& account);
  // Never throws; a missing item is fine.
  static void remove(const MailAccount& account);
};

}  // namespace bx
