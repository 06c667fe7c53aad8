// libsecret before any Qt header: GLib's D-Bus headers use `signals` as a
// member name, which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "Platform/Credentials.h"

#include "Util/AtomicFile.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>

namespace bx {

namespace {

// Read on the GUI thread by store operations and on workers by the backup
// and free-up runs: guarded.
std::mutex memoryLock;
std::map<std::string, std::string>& memory() {
  static std::map<std::string, std::string> map;
  return map;
}

bool envPresent(const char* name) { return std::getenv(name) != nullptr; }

enum class FileRead { missing, ok, bad };

// The credential file as a map. Only a missing file counts as empty; an
// unreadable or malformed one is `bad`, so that a save never overwrites the
// other accounts' passwords with a map of one.
FileRead readCredentialFile(const std::filesystem::path& path, std::map<std::string, std::string>& out) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return ec ? FileRead::bad : FileRead::missing;
  const std::optional<std::string> data = readFile(path);
  if (!data) return FileRead::bad;
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(*data), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return FileRead::bad;
  const QJsonObject o = doc.object();
  std::map<std::string, std::string> map;
  for (auto it = o.begin(); it != o.end(); ++it) {
    if (!it.value().isString()) return FileRead::bad;
    map[it.key().toStdString()] = it.value().toString().toStdString();
  }
  out = std::move(map);
  return FileRead::ok;
}

std::string encodeCredentialFile(const std::map<std::string, std::string>& map) {
  QJsonObject o;
  for (const auto& [k, v] : map) o.insert(QString::fromStdString(k), QString::fromStdString(v));
  return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

const SecretSchema* schema() {
  // The identity attributes only; items made by others with the same four
  // attributes match too.
  static const SecretSchema s = {
      "org.brindlebox.InternetPassword",
      SECRET_SCHEMA_DONT_MATCH_NAME,
      {
          {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
          {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
          {"port", SECRET_SCHEMA_ATTRIBUTE_INTEGER},
          {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING},
          {"comment", SECRET_SCHEMA_ATTRIBUTE_STRING},
          {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
      },
      0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return &s;
}

struct Attributes {
  GHashTable* table;
  std::string port;
  explicit Attributes(const MailAccount& a, bool withComment) : port(std::to_string(a.server.port)) {
    table = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(table, const_cast<char*>("server"), const_cast<char*>(a.server.host.c_str()));
    g_hash_table_insert(table, const_cast<char*>("account"), const_cast<char*>(a.username.c_str()));
    g_hash_table_insert(table, const_cast<char*>("port"), const_cast<char*>(port.c_str()));
    g_hash_table_insert(table, const_cast<char*>("protocol"), const_cast<char*>("imaps"));
    if (withComment) g_hash_table_insert(table, const_cast<char*>("comment"), comment());
  }
  ~Attributes() { g_hash_table_unref(table); }
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;
  static char* comment() {
    static std::string c = Keychain::commentText().toStdString();
    return c.data();
  }
};

std::string errorText(GError* error) {
  if (error && error->message && *error->message) return error->message;
  return "Keychain error " + std::to_string(error ? error->code : -1);
}

// What a failed store says to the user. Failures to reach the keyring at
// all come from D-Bus in its own words ("Cannot autolaunch D-Bus without
// X11 $DISPLAY", "Object does not exist at path …/collection/login"), which
// say nothing to someone adding a mail account.
std::string saveErrorText(GError* error) {
  if (error && (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR))
    return "The desktop keyring is not available, so the password could not be kept. Make sure a keyring "
           "service (such as GNOME Keyring or KWallet) is running and unlocked, then try again. (" +
           errorText(error) + ")";
  return errorText(error);
}

}  // namespace

std::optional<std::filesystem::path> Credentials::file() {
  const char* v = std::getenv("BRINDLEBOX_CREDENTIALS_FILE");
  if (!v) return std::nullopt;
  return std::filesystem::path(v);
}

bool Credentials::usesKeychain() {
  if (file()) return false;
  if (envPresent("BRINDLEBOX_DEMO_DIR") || envPresent("BRINDLEBOX_SNAPSHOT_DIR")) return false;
  return true;
}

std::string Credentials::key(const MailAccount& account) {
  return account.username + "@" + account.server.host + ":" + std::to_string(account.server.port);
}

void Credentials::save(const QString& password, const MailAccount& account) {
  if (usesKeychain()) {
    Keychain::save(password, account);
    return;
  }
  std::lock_guard lock(memoryLock);
  const auto path = file();
  std::map<std::string, std::string> map;
  if (path) {
    if (readCredentialFile(*path, map) == FileRead::bad)
      throw CredentialError("The password file " + path->string() +
                            " can’t be read, so the password was not saved. Check the file and try again.");
  } else {
    map = memory();
  }
  map[key(account)] = password.toStdString();
  memory() = map;
  if (path) {
    try {
      writeFileAtomically(*path, encodeCredentialFile(map));
    } catch (const std::exception& e) {
      throw CredentialError(std::string("The password file could not be written: ") + e.what());
    }
  }
}

void Credentials::remove(const MailAccount& account) {
  if (usesKeychain()) {
    Keychain::remove(account);
    return;
  }
  std::lock_guard lock(memoryLock);
  const auto path = file();
  std::map<std::string, std::string> map;
  if (path) {
    // A file that cannot be read is left alone rather than replaced.
    if (readCredentialFile(*path, map) == FileRead::bad) return;
  } else {
    map = memory();
  }
  map.erase(key(account));
  memory() = map;
  if (path) {
    try {
      writeFileAtomically(*path, encodeCredentialFile(map));
    } catch (...) {
    }
  }
}

std::optional<QString> Credentials::password(const MailAccount& account) {
  if (usesKeychain()) return Keychain::password(account);
  std::lock_guard lock(memoryLock);
  std::map<std::string, std::string> map;
  const auto path = file();
  if (!path || readCredentialFile(*path, map) != FileRead::ok) map = memory();
  const auto it = map.find(key(account));
  if (it == map.end()) return std::nullopt;
  return QString::fromStdString(it->second);
}

void Credentials::resetMemory() {
  std::lock_guard lock(memoryLock);
  memory().clear();
}

QString Keychain::labelText(const MailAccount& account) {
  return QStringLiteral("Brindlebox – ") + QString::fromStdString(account.username);
}

QString Keychain::commentText() { return QStringLiteral("App-specific password used by Brindlebox to back up mail"); }

void Keychain::save(const QString& password, const MailAccount& account) {
  // Stored with "replace": an item with the same attributes is updated in
  // place, so the old password is never gone before the new one is kept.
  Attributes attrs(account, true);
  const std::string label = labelText(account).toStdString();
  const std::string secret = password.toStdString();
  GError* error = nullptr;
  const gboolean ok = secret_password_storev_sync(schema(), attrs.table, SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                  secret.c_str(), nullptr, &error);
  if (!ok) {
    const std::string text = saveErrorText(error);
    if (error) g_error_free(error);
    throw CredentialError(text);
  }
  // Items with the same identity made elsewhere (without our comment) are
  // replaced too: one item per identity.
  Attributes identity(account, false);
  GList* items = secret_password_searchv_sync(schema(), identity.table, SECRET_SEARCH_ALL, nullptr, nullptr);
  for (GList* l = items; l; l = l->next) {
    auto* retrievable = static_cast<SecretRetrievable*>(l->data);
    GHashTable* a = secret_retrievable_get_attributes(retrievable);
    const char* c = a ? static_cast<const char*>(g_hash_table_lookup(a, "comment")) : nullptr;
    if (!c || std::string(c) != Attributes::comment()) {
      if (SECRET_IS_ITEM(retrievable)) secret_item_delete_sync(SECRET_ITEM(retrievable), nullptr, nullptr);
    }
    if (a) g_hash_table_unref(a);
  }
  g_list_free_full(items, g_object_unref);
}

std::optional<QString> Keychain::password(const MailAccount& account) {
  Attributes attrs(account, false);
  GError* error = nullptr;
  gchar* value = secret_password_lookupv_sync(schema(), attrs.table, nullptr, &error);
  if (error) g_error_free(error);
  if (!value) return std::nullopt;
  std::optional<QString> out;
  if (g_utf8_validate(value, -1, nullptr)) out = QString::fromUtf8(value);
  secret_password_free(value);
  return out;
}

void Keychain::remove(const MailAccount& account) {
  Attributes attrs(account, false);
  GError* error = nullptr;
  secret_password_clearv_sync(schema(), attrs.table, nullptr, &error);
  if (error) g_error_free(error);
}

}  // namespace bx
