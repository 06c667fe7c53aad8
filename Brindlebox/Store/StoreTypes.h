#pragma once
// The small values that the store publishes and the views read: month keys
// and groups, the sidebar selection and its shelves, saved searches, folder
// rows, the opened message with its copy status, and the backup ledger.

#include "Engines/BackupProgress.h"
#include "Engines/FriendlyError.h"
#include "Index/MessageRecord.h"
#include "Mime/MailAddress.h"
#include "Mime/ParsedMessage.h"
#include "Safety/HTMLReport.h"
#include "Safety/SenderFlag.h"
#include "Safety/SenderTrust.h"
#include "Util/Date.h"
#include "Util/UUID.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace bx {

// A calendar month in the user's calendar and time zone.
struct MonthKey {
  int year = 1970;
  int month = 1;  // 1...12

  MonthKey() = default;
  MonthKey(int year, int month) : year(year), month(month) {}
  explicit MonthKey(Date date);
  // The inverse of index(): year = index / 12, month = index - year * 12 + 1.
  static MonthKey fromIndex(int index);

  // year * 12 + month - 1: identity, order and the key of per-month maps.
  int index() const { return year * 12 + month - 1; }
  int id() const { return index(); }
  // The first instant of the month and of the next one, in the local time zone.
  static std::pair<Date, Date> bounds(const MonthKey& key);
  // The locale's full month name, a space, the year in plain digits.
  QString title() const;

  friend bool operator==(const MonthKey& a, const MonthKey& b) { return a.year == b.year && a.month == b.month; }
  friend bool operator!=(const MonthKey& a, const MonthKey& b) { return !(a == b); }
  friend bool operator<(const MonthKey& a, const MonthKey& b) { return a.index() < b.index(); }
  friend bool operator>(const MonthKey& a, const MonthKey& b) { return b < a; }
  friend bool operator<=(const MonthKey& a, const MonthKey& b) { return !(b < a); }
  friend bool operator>=(const MonthKey& a, const MonthKey& b) { return !(a < b); }
};

// One month of the visible list. The records point into the store's current
// records, which stay alive until the next publish replaces both.
struct MonthGroup {
  MonthKey key;
  std::vector<const MessageRecord*> records;
  int id() const { return key.index(); }
};

// The built-in shelves, in declaration order.
enum class SmartFilter { recent, attachments, trackers, suspicious, large };

struct SmartFilters {
  static constexpr std::array<SmartFilter, 5> allCases{SmartFilter::recent, SmartFilter::attachments,
                                                       SmartFilter::trackers, SmartFilter::suspicious,
                                                       SmartFilter::large};
  static QString rawValue(SmartFilter f);
  static std::optional<SmartFilter> fromRawValue(const QString& raw);  // exact, case-sensitive
  static QString title(SmartFilter f);
  // Whether a record sits on a shelf; `nowSeconds` is the current time for
  // the recent shelf (read per record by the store).
  static bool contains(SmartFilter f, const MessageRecord& r, double nowSeconds);
};

// The sidebar selection.
struct SidebarItem {
  enum class Kind { all, account, folder, smart, saved };
  Kind kind = Kind::all;
  QString account;  // account, folder
  QString folder;   // folder
  SmartFilter smart = SmartFilter::recent;  // smart
  QUuid saved;      // saved

  static SidebarItem makeAll() { return {}; }
  static SidebarItem makeAccount(const QString& a) { SidebarItem s; s.kind = Kind::account; s.account = a; return s; }
  static SidebarItem makeFolder(const QString& a, const QString& f) {
    SidebarItem s; s.kind = Kind::folder; s.account = a; s.folder = f; return s;
  }
  static SidebarItem makeSmart(SmartFilter f) { SidebarItem s; s.kind = Kind::smart; s.smart = f; return s; }
  static SidebarItem makeSaved(const QUuid& id) { SidebarItem s; s.kind = Kind::saved; s.saved = id; return s; }

  // What an account directory is called on screen: the files directly at
  // the vault root (directory "") are "Loose Messages", like the messages
  // an import finds outside any mailbox.
  static QString accountTitle(const QString& directory);

  friend bool operator==(const SidebarItem& a, const SidebarItem& b);
  friend bool operator!=(const SidebarItem& a, const SidebarItem& b) { return !(a == b); }
};
size_t qHash(const SidebarItem& item, size_t seed = 0);

// A saved search of the sidebar, one element of filters.json.
struct SavedSearch {
  QUuid id;
  QString name;
  QString query;
  friend bool operator==(const SavedSearch&, const SavedSearch&) = default;

  // filters.json: a JSON array of {"id","name","query"}, every key required.
  static std::optional<QList<SavedSearch>> decodeList(const QByteArray& json);
  static QByteArray encodeList(const QList<SavedSearch>& list);
};

// One folder row of the sidebar.
struct FolderSummary {
  QString account;
  QString folder;
  int count = 0;
  QString id() const { return account + QLatin1Char('/') + folder; }
  friend bool operator==(const FolderSummary&, const FolderSummary&) = default;
};

// How the vault copy compares with what the server reported.
struct CopyStatus {
  enum class Kind { verified, differs, imported, saved };
  Kind kind = Kind::saved;
  int64_t serverSize = 0;  // verified, differs
  int64_t local = 0;       // differs

  static CopyStatus verified(int64_t serverSize) { return {Kind::verified, serverSize, 0}; }
  static CopyStatus differs(int64_t local, int64_t server) { return {Kind::differs, server, local}; }
  static CopyStatus imported() { return {Kind::imported, 0, 0}; }
  static CopyStatus saved() { return {Kind::saved, 0, 0}; }
  friend bool operator==(const CopyStatus&, const CopyStatus&) = default;
};

// Everything the reader shows for the opened message.
struct OpenMessage {
  MessageRecord record;
  ParsedMessage parsed;
  HTMLReport report;
  // The HTML body as the reader shows it while remote images are blocked,
  // prepared in the same parse as `report`; none for a message without HTML
  // (the reader prepares it when a message comes without).
  std::shared_ptr<const std::string> display;
  SenderTrust trust = SenderTrust::unknown;
  std::map<std::string, std::string> authResults;
  std::optional<MailAddress> replyTo;
  std::vector<SenderFlag> senderFlags;
  CopyStatus copy;
  int64_t fileSize = 0;
  // Reading the selected file failed: the reader shows that the message could
  // not be read instead of keeping the previous message under the new
  // selection. `record` is the selected record; the rest is empty.
  bool unreadable = false;

  const std::string& id() const { return record.path; }
};

// The scan's progress: (done, total) files added.
struct IndexingProgress {
  int done = 0;
  int total = 0;
  friend bool operator==(const IndexingProgress&, const IndexingProgress&) = default;
};

// The ledger line of one mail folder in the current or last backup run.
struct LedgerLine {
  bool running = false;
  int64_t done = 0;
  int64_t total = 0;
  bool finished = false;
  int64_t newMessages = 0;
  // The run of this folder's account failed before the folder was done:
  // done of total is what it saved, the rest is still missing.
  bool failed = false;
  friend bool operator==(const LedgerLine&, const LedgerLine&) = default;
};

// The state of the backup run.
struct BackupStatus {
  bool running = false;
  BackupProgress progress;
  int accountIndex = 0;
  int accountCount = 0;
  // The account being worked on; progress.account is only its label, which
  // two accounts may share.
  std::optional<UUID> accountID;
  std::optional<QString> lastMessage;
  std::optional<QString> lastError;
  std::optional<Date> lastFinished;
};

// The two date texts of the interface.
struct Fmt {
  // "just now", "N min ago", "N h ago", "N d ago", else the abbreviated date.
  static QString ago(Date date);
  static QString ago(Date date, Date now);
  // Today: "HH:mm"; yesterday: "Yesterday"; else day and short month.
  static QString rowDate(Date date);
  static QString rowDate(Date date, Date now);
  // A byte count in file units, decimal (1 KB = 1,000 bytes): "Zero KB",
  // "1 byte", "512 bytes", "12 KB", "3.4 MB", "1.23 GB".
  static QString bytes(int64_t count);
};

}  // namespace bx
