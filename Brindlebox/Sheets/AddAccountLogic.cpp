#include "Sheets/AddAccountLogic.h"

#include "Engines/IMAPSession.h"
#include "Imap/CancellationError.h"
#include "Imap/IMAPClient.h"
#include "Util/Unicode.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>

namespace bx {

namespace {

std::string upper(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return out;
}

bool isInbox(const IMAPMailbox& m) { return upper(m.name) == "INBOX"; }

} // namespace

std::uint16_t AddAccountLogic::parsePort(const QString& port) {
  const QString s = port;
  if (s.isEmpty()) return 993;
  int i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  if (i >= s.size()) return 993;
  unsigned long value = 0;
  for (; i < s.size(); ++i) {
    const QChar c = s[i];
    if (c < '0' || c > '9') return 993;
    value = value * 10 + unsigned(c.unicode() - '0');
    if (value > 65535) return 993;
  }
  if (negative && value != 0) return 993;
  return std::uint16_t(value);
}

IMAPServer AddAccountLogic::server(const QString& host, const QString& port, bool plaintext) {
  return IMAPServer(trimWhitespace(host.toStdString()), parsePort(port), plaintext && host == "127.0.0.1");
}

std::string AddAccountLogic::signInUser(const QString& username) { return trimWhitespace(username.toStdString()); }

std::string AddAccountLogic::signInPassword(const std::string& presetId, const QString& password) {
  if (presetId != "gmail") return password.toStdString();
  QString stripped = password;
  stripped.remove(QChar(' '));
  return stripped.toStdString();
}

std::vector<IMAPMailbox> AddAccountLogic::folderOrder(std::vector<IMAPMailbox> list) {
  // The C locale has no collation rules (numbers would compare as text):
  // it sorts as English does.
  const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : QLocale();
  QCollator collator{locale};
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  collator.setNumericMode(true);
  std::stable_sort(list.begin(), list.end(), [&](const IMAPMailbox& a, const IMAPMailbox& b) {
    if (isInbox(a)) return !isInbox(b);
    if (isInbox(b)) return false;
    return collator.compare(QString::fromStdString(a.displayName), QString::fromStdString(b.displayName)) < 0;
  });
  return list;
}

std::set<std::string> AddAccountLogic::preselection(const std::string& presetId,
                                                    const std::vector<IMAPMailbox>& list) {
  if (presetId == "gmail") {
    for (const auto& m : list)
      if (m.role() == "all") return {m.name};
  }
  std::set<std::string> chosen;
  for (const auto& m : list) {
    const auto role = m.role();
    if (role && (*role == "inbox" || *role == "sent" || *role == "archive")) chosen.insert(m.name);
  }
  if (chosen.empty()) {
    for (const auto& m : list)
      if (isInbox(m)) return {m.name};
  }
  return chosen;
}

bool AddAccountLogic::isBlank(const QString& text) { return trimWhitespace(text.toStdString()).empty(); }

std::string AddAccountLogic::accountLabel(const QString& label, const QString& username) {
  return isBlank(label) ? username.toStdString() : label.toStdString();
}

std::vector<std::string> AddAccountLogic::chosenFolders(const std::vector<IMAPMailbox>& mailboxes,
                                                        const std::set<std::string>& chosen) {
  std::vector<std::string> out;
  for (const auto& m : mailboxes)
    if (chosen.count(m.name)) out.push_back(m.name);
  return out;
}

SignInResult runSignIn(const IMAPServer& server, const std::string& user, const std::string& password,
                       std::stop_token stop, double timeoutSeconds) {
  SignInResult result;
  try {
    IMAPSession session(server, user, password, timeoutSeconds, stop);
    session.signIn();
    if (stop.stop_requested()) throw CancellationError();
    result.mailboxes = session->list();
    session->logout();
    result.ok = true;
  } catch (const CancellationError&) {
    result.cancelled = true;
  } catch (...) {
    result.error = FriendlyError::describe(std::current_exception(), server.host);
  }
  return result;
}

std::optional<MailAccount> AddAccountLogic::sameLogin(const std::vector<MailAccount>& accounts,
                                                     const IMAPServer& server, const std::string& user) {
  const std::string host = asciiLowercased(server.host);
  for (const MailAccount& a : accounts)
    if (a.username == user && a.server.port == server.port && asciiLowercased(a.server.host) == host) return a;
  return std::nullopt;
}

FriendlyError::Message AddAccountLogic::alreadyAdded(const MailAccount& existing) {
  return {"This account is already in Brindlebox",
          "\u201C" + existing.label + "\u201D already backs up " + existing.username + " on " + existing.server.host +
              ". To give it a new password, remove it in Settings and add it again: its messages stay in the vault "
              "and are not downloaded again."};
}

} // namespace bx
