#pragma once

#include "Vault/MailAccount.h"

#include <QObject>
#include <QString>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bx {

// What the sheets and the settings window ask of the application store: the
// accounts, the operations on them, the backup state they must respect, the
// vault's location and the flags that present things in the main window.
// The application implements it over its store; tests give a store of their
// own.
class SheetStore : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;

  virtual std::vector<MailAccount> accounts() const = 0;
  // Stores the password, then the account. Throws std::exception (what() is
  // shown to the user) and leaves nothing behind when either write fails.
  virtual void addAccount(const MailAccount& account, const std::string& password) = 0;
  virtual void updateAccount(const MailAccount& account) = 0;
  virtual void removeAccount(const MailAccount& account) = 0;
  // Starts a backup of one account, or of all; while one runs, the new one
  // starts when it ends.
  virtual void backUpNow(const std::optional<MailAccount>& only) = 0;

  // Whether running work (a backup that includes it, its free-up) still
  // writes for this account: it cannot be removed meanwhile.
  virtual bool accountBusy(const UUID& id) const = 0;

  virtual QString vaultRoot() const = 0;
  virtual QString vaultSummary() const = 0;
  virtual void openArchiveInFinder() = 0;
  // Points the vault at another folder; a text saying why when it refuses.
  virtual std::optional<QString> changeArchiveRoot(const QString& path) = 0;

  virtual void setShowAddAccount() = 0;
  virtual void setShowWelcome() = 0;

signals:
  void accountsChanged();
  void busyChanged();
  void vaultChanged();
};

} // namespace bx

namespace bx {

// Thrown by SheetStore::addAccount: which of the two writes failed, and the
// system's description of why.
struct AccountSaveError : std::runtime_error {
  enum class Part { Password, Accounts };
  Part part;
  AccountSaveError(Part part, const std::string& what) : std::runtime_error(what), part(part) {}
};

} // namespace bx
