#pragma once

#include "Engines/FriendlyError.h"
#include "Imap/IMAPMailbox.h"
#include "Imap/IMAPServer.h"
#include "Vault/MailAccount.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

class QObject;

namespace bx {

// The wizard's rules that do not depend on a widget: what server, user and
// password a sign-in test uses, the order folders are listed in, which
// folders start ticked, and the label a new account is saved under.
struct AddAccountLogic {
  // Host trimmed of spaces and tabs; port parsed as a decimal 16-bit number
  // (optional sign, ASCII digits only; "-0" is 0), 993 when it does not
  // parse; plain TCP only while the toggle is on and the host field, as
  // typed, is exactly "127.0.0.1".
  static IMAPServer server(const QString& host, const QString& port, bool plaintext);
  static std::uint16_t parsePort(const QString& port);

  // The user name trimmed of spaces and tabs.
  static std::string signInUser(const QString& username);
  // For "gmail" every U+0020 goes (app passwords are shown in groups);
  // anything else is sent exactly as typed.
  static std::string signInPassword(const std::string& presetId, const QString& password);

  // INBOX (any case) first, then by display name case-insensitively with
  // digit runs compared by value; a stable sort.
  static std::vector<IMAPMailbox> folderOrder(std::vector<IMAPMailbox> serverOrder);
  // Over the server's order: for "gmail" the first \All mailbox alone;
  // otherwise the inbox, sent and archive roles; failing those the first
  // INBOX.
  static std::set<std::string> preselection(const std::string& presetId, const std::vector<IMAPMailbox>& serverOrder);

  // The label field as typed unless it holds nothing but spaces and tabs;
  // then the user name as typed.
  static std::string accountLabel(const QString& label, const QString& username);
  // The names of `mailboxes`, in that order, that are in `chosen`.
  static std::vector<std::string> chosenFolders(const std::vector<IMAPMailbox>& mailboxes,
                                                const std::set<std::string>& chosen);

  // True when the text is empty or only spaces and tabs.
  static bool isBlank(const QString& text);

  // The account of `accounts` that already signs in as `user` on this
  // server (host without regard to case, same port), if any: a second one
  // would store all of its mail twice.
  static std::optional<MailAccount> sameLogin(const std::vector<MailAccount>& accounts, const IMAPServer& server,
                                              const std::string& user);
  // What the wizard says when it refuses such a login.
  static FriendlyError::Message alreadyAdded(const MailAccount& existing);
};

// The outcome of one sign-in test.
struct SignInResult {
  bool ok = false;
  bool cancelled = false;
  std::vector<IMAPMailbox> mailboxes;  // server order
  FriendlyError::Message error;
};

// The blocking sign-in script: connect, LOGIN, LIST, LOGOUT, with a 30 s
// limit on every wait. A stop request ends it before the next command (and
// wakes a wait in progress); once stopped it never sends LOGIN. A failure
// sends nothing more. Runs on a worker thread; holds only its arguments.
SignInResult runSignIn(const IMAPServer& server, const std::string& user, const std::string& password,
                       std::stop_token stop, double timeoutSeconds = 30);

} // namespace bx
