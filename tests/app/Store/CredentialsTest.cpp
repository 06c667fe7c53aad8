// Passwords in a file, in memory and in the Secret Service.

#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "StoreFixture.h"

#include <gmock/gmock.h>

#include <thread>

namespace bx::test {
namespace {

using CredentialsFile = StoreTest;

TEST_F(CredentialsFile, SaveCreatesDeleteEmpties) {
  const MailAccount a = account("Work");
  EXPECT_FALSE(Credentials::usesKeychain());
  EXPECT_EQ(Credentials::key(a), "ann@example.com@imap.example.com:993");
  Credentials::save("pw1", a);
  EXPECT_EQ(dir.read("passwords.json"), R"({"ann@example.com@imap.example.com:993":"pw1"})");
  EXPECT_EQ(Credentials::password(a), QString("pw1"));
  Credentials::remove(a);
  EXPECT_EQ(dir.read("passwords.json"), "{}");
  EXPECT_FALSE(Credentials::password(a));
}

TEST_F(CredentialsFile, OtherEntriesSurviveAndPortsMakeDifferentKeys) {
  const MailAccount a = account("A"), b = account("B", "ann@example.com", "imap.example.com", 1993);
  EXPECT_NE(Credentials::key(a), Credentials::key(b));
  Credentials::save("one", a);
  Credentials::save("two", b);
  Credentials::save("three", a);
  EXPECT_EQ(Credentials::password(a), QString("three"));
  EXPECT_EQ(Credentials::password(b), QString("two"));
}

TEST_F(CredentialsFile, BrokenFileIsNeverOverwritten) {
  const MailAccount a = account("Work");
  for (const std::string broken : {"{not json", R"({"x":1})", "[]"}) {
    dir.write("passwords.json", broken);
    EXPECT_THROW(Credentials::save("pw", a), CredentialError) << broken;
    Credentials::remove(a);
    EXPECT_EQ(dir.read("passwords.json"), broken);
  }
}

TEST_F(CredentialsFile, UnwritableFileIsReported) {
  qputenv("BRINDLEBOX_CREDENTIALS_FILE", QByteArray::fromStdString((dir / "missing/dir/p.json").string()));
  EXPECT_THROW(Credentials::save("pw", account("Work")), CredentialError);
}

TEST_F(StoreTest, DemoRunsKeepPasswordsInMemoryOnly) {
  qunsetenv("BRINDLEBOX_CREDENTIALS_FILE");
  qputenv("BRINDLEBOX_DEMO_DIR", "");
  const MailAccount a = account("Work");
  EXPECT_FALSE(Credentials::usesKeychain());
  Credentials::save("pw", a);
  EXPECT_EQ(Credentials::password(a), QString("pw"));
  // Saves from several threads at once lose nothing.
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([i] {
      for (int k = 0; k < 50; ++k)
        Credentials::save("x", account("T", "user" + std::to_string(i) + "-" + std::to_string(k)));
    });
  for (auto& t : threads) t.join();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Credentials::password(account("T", "user" + std::to_string(i) + "-49")), "x");
  Credentials::remove(a);
  EXPECT_FALSE(Credentials::password(a));
  qunsetenv("BRINDLEBOX_DEMO_DIR");
}

// Runs only where the test command started a session bus with an unlocked
// keyring (BX_KEYRING_TESTS=1).
class KeyringTest : public ::testing::Test {
protected:
  // The items of an identity as (label, comment, password), whoever made them.
  struct Item {
    std::string label, comment, secret;
  };
  static const SecretSchema* anySchema() {
    static const SecretSchema s = {"org.example.Other",
                                   SECRET_SCHEMA_DONT_MATCH_NAME,
                                   {{"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"port", SECRET_SCHEMA_ATTRIBUTE_INTEGER},
                                    {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &s;
  }
  static std::vector<Item> items(const MailAccount& a) {
    const std::string port = std::to_string(a.server.port);
    GHashTable* attrs = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attrs, (gpointer) "server", (gpointer)a.server.host.c_str());
    g_hash_table_insert(attrs, (gpointer) "account", (gpointer)a.username.c_str());
    g_hash_table_insert(attrs, (gpointer) "port", (gpointer)port.c_str());
    g_hash_table_insert(attrs, (gpointer) "protocol", (gpointer) "imaps");
    GList* found = secret_password_searchv_sync(
        anySchema(), attrs, SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS), nullptr, nullptr);
    std::vector<Item> out;
    for (GList* l = found; l; l = l->next) {
      auto* r = static_cast<SecretRetrievable*>(l->data);
      Item item;
      gchar* label = secret_retrievable_get_label(r);
      item.label = label ? label : "";
      g_free(label);
      GHashTable* have = secret_retrievable_get_attributes(r);
      if (auto* c = static_cast<const char*>(g_hash_table_lookup(have, "comment"))) item.comment = c;
      g_hash_table_unref(have);
      if (SecretValue* v = secret_retrievable_retrieve_secret_sync(r, nullptr, nullptr)) {
        item.secret = secret_value_get_text(v) ? secret_value_get_text(v) : "";
        secret_value_unref(v);
      }
      out.push_back(item);
    }
    g_list_free_full(found, g_object_unref);
    g_hash_table_unref(attrs);
    return out;
  }

  void SetUp() override {
    if (!qEnvironmentVariableIsSet("BX_KEYRING_TESTS")) GTEST_SKIP() << "no test keyring";
    for (const char* v : {"BRINDLEBOX_DEMO_DIR", "BRINDLEBOX_SNAPSHOT_DIR", "BRINDLEBOX_CREDENTIALS_FILE"})
      qunsetenv(v);
  }
};

TEST_F(KeyringTest, OneItemPerIdentityReplacedInPlace) {
  ASSERT_TRUE(Credentials::usesKeychain());
  const MailAccount a = account("Work", "kim@example.com");
  const MailAccount otherPort = account("Work", "kim@example.com", "imap.example.com", 1993);
  Credentials::save("first", a);
  Credentials::save("second", a);
  Credentials::save("elsewhere", otherPort);
  EXPECT_EQ(Credentials::password(a), QString("second"));
  EXPECT_EQ(Credentials::password(otherPort), QString("elsewhere"));
  auto list = items(a);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].label, "Brindlebox – kim@example.com");
  EXPECT_EQ(list[0].comment, "App-specific password used by Brindlebox to back up mail");
  EXPECT_EQ(list[0].secret, "second");

  Credentials::remove(a);
  EXPECT_FALSE(Credentials::password(a));
  EXPECT_EQ(Credentials::password(otherPort), QString("elsewhere"));
  Credentials::remove(otherPort);
  EXPECT_FALSE(Credentials::password(otherPort));
}

TEST_F(KeyringTest, AnItemOfTheSameIdentityMadeElsewhereIsReplaced) {
  const MailAccount a = account("Work", "lee@example.com");
  const std::string port = std::to_string(a.server.port);
  ASSERT_TRUE(secret_password_store_sync(anySchema(), SECRET_COLLECTION_DEFAULT, "someone else", "old", nullptr,
                                         nullptr, "server", a.server.host.c_str(), "account", a.username.c_str(),
                                         "port", int(a.server.port), "protocol", "imaps", nullptr));
  ASSERT_EQ(items(a).size(), 1u);
  Credentials::save("new", a);
  const auto list = items(a);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].secret, "new");
  Credentials::remove(a);
  EXPECT_TRUE(items(a).empty());
}

}  // namespace
}  // namespace bx::test

namespace bx::test {
namespace {

// Where no keyring can be reached, saving says so in words a user can act
// on, whatever D-Bus said.
TEST(KeyringUnavailable, SavingSaysTheDesktopKeyringIsNotAvailable) {
  // A run that has reached a keyring keeps its connection: nothing to see there.
  if (qEnvironmentVariableIsSet("BX_KEYRING_TESTS")) GTEST_SKIP() << "a keyring is running";
  for (const char* v : {"BRINDLEBOX_DEMO_DIR", "BRINDLEBOX_SNAPSHOT_DIR", "BRINDLEBOX_CREDENTIALS_FILE"})
    qunsetenv(v);
  const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS"), display = qgetenv("DISPLAY");
  qunsetenv("DISPLAY");
  const MailAccount a(UUID::random(), "Work", "ann@example.com", IMAPServer("imap.example.com", 993, false), "custom",
                      {"INBOX"}, {});
  // No bus named at all, and a bus that is not there.
  for (const char* address : {static_cast<const char*>(nullptr), "unix:path=/nonexistent/bx-bus"}) {
    if (address)
      qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    else
      qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    try {
      Credentials::save("pw", a);
      ADD_FAILURE() << "saved without a keyring";
    } catch (const CredentialError& e) {
      EXPECT_THAT(e.what(), ::testing::StartsWith("The desktop keyring is not available")) << e.what();
    }
  }
  if (bus.isNull()) qunsetenv("DBUS_SESSION_BUS_ADDRESS"); else qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
  if (!display.isNull()) qputenv("DISPLAY", display);
}

}  // namespace
}  // namespace bx::test
