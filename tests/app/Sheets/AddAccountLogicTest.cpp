#include "Sheets/AddAccountLogic.h"
#include "Sheets/HomePath.h"

#include <gtest/gtest.h>

using namespace bx;

namespace {

IMAPMailbox box(const std::string& name, std::vector<std::string> attributes = {}) {
  return IMAPMailbox(name, name, "/", std::move(attributes));
}

std::vector<std::string> names(const std::vector<IMAPMailbox>& list) {
  std::vector<std::string> out;
  for (const auto& m : list) out.push_back(m.name);
  return out;
}

} // namespace

TEST(AddAccountLogic, ServerFromTheFields) {
  struct Case {
    QString host, port;
    bool plaintext;
    std::string wantHost;
    int wantPort;
    bool wantPlain;
  };
  const Case cases[] = {
      {"imap.example.com", "", false, "imap.example.com", 993, false},
      {"\t imap.example.com  ", "143", false, "imap.example.com", 143, false},
      {"h", "abc", false, "h", 993, false},
      {"h", " 993", false, "h", 993, false},
      {"h", "993 ", false, "h", 993, false},
      {"h", "70000", false, "h", 993, false},
      {"h", "65535", false, "h", 65535, false},
      {"h", "+143", false, "h", 143, false},
      {"h", "-0", false, "h", 0, false},
      {"h", "-1", false, "h", 993, false},
      {"h", "+", false, "h", 993, false},
      {"h", "١٤٣", false, "h", 993, false},  // non-ASCII digits
      {"127.0.0.1", "143", true, "127.0.0.1", 143, true},
      {" 127.0.0.1", "143", true, "127.0.0.1", 143, false},
      {"127.0.0.1", "143", false, "127.0.0.1", 143, false},
      {"localhost", "143", true, "localhost", 143, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(("host '" + c.host + "' port '" + c.port + "'").toStdString());
    const IMAPServer s = AddAccountLogic::server(c.host, c.port, c.plaintext);
    EXPECT_EQ(s.host, c.wantHost);
    EXPECT_EQ(s.port, c.wantPort);
    EXPECT_EQ(s.plaintextLocalDev, c.wantPlain);
  }
}

TEST(AddAccountLogic, SignInCredentials) {
  EXPECT_EQ(AddAccountLogic::signInUser(" \tann@example.com\t "), "ann@example.com");
  EXPECT_EQ(AddAccountLogic::signInUser("   "), "");
  EXPECT_EQ(AddAccountLogic::signInPassword("gmail", "abcd efgh ijkl mnop"), "abcdefghijklmnop");
  EXPECT_EQ(AddAccountLogic::signInPassword("gmail", " ab\tcd "), "ab\tcd") << "only U+0020 goes";
  EXPECT_EQ(AddAccountLogic::signInPassword("custom", " pass word "), " pass word ");
  EXPECT_EQ(AddAccountLogic::signInPassword("icloud", "abcd efgh"), "abcd efgh");
}

TEST(AddAccountLogic, FolderOrderAndPreselection) {
  struct Case {
    const char* what;
    std::string preset;
    std::vector<IMAPMailbox> list;
    std::vector<std::string> order;
    std::set<std::string> chosen;
  };
  const Case cases[] = {
      {"natural order, INBOX first",
       "custom",
       {box("Work 10"), box("work 9"), box("INBOX"), box("Archive")},
       {"INBOX", "Archive", "work 9", "Work 10"},
       {"INBOX"}},
      {"gmail takes \\All alone",
       "gmail",
       {box("INBOX"), box("[Gmail]/All Mail", {"\\HasNoChildren", "\\All"}), box("[Gmail]/Sent Mail", {"\\Sent"})},
       {"INBOX", "[Gmail]/All Mail", "[Gmail]/Sent Mail"},
       {"[Gmail]/All Mail"}},
      {"gmail without \\All falls back to roles",
       "gmail",
       {box("INBOX"), box("Sent", {"\\Sent"}), box("Old", {"\\Archive"}), box("Bin", {"\\Trash"})},
       {"INBOX", "Bin", "Old", "Sent"},
       {"INBOX", "Sent", "Old"}},
      {"\\All counts only for gmail",
       "fastmail",
       {box("All", {"\\All"}), box("inbox")},
       {"inbox", "All"},
       {"inbox"}},
      {"no roles, no INBOX", "custom", {box("b"), box("a")}, {"a", "b"}, {}},
      {"empty list", "custom", {}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(names(AddAccountLogic::folderOrder(c.list)), c.order);
    EXPECT_EQ(AddAccountLogic::preselection(c.preset, c.list), c.chosen);
  }
}

TEST(AddAccountLogic, SavedLabelAndFolders) {
  EXPECT_EQ(AddAccountLogic::accountLabel("", "ann@example.com"), "ann@example.com");
  EXPECT_EQ(AddAccountLogic::accountLabel(" \t ", " ann@example.com"), " ann@example.com");
  EXPECT_EQ(AddAccountLogic::accountLabel(" Work ", "ann"), " Work ");
  // List order, not ticking order; unlisted names are dropped.
  const std::vector<IMAPMailbox> list = {box("INBOX"), box("A", {"\\Noselect"}), box("B")};
  EXPECT_EQ(AddAccountLogic::chosenFolders(list, {"B", "INBOX", "A", "Gone"}),
            (std::vector<std::string>{"INBOX", "A", "B"}));
}

TEST(AddAccountLogic, ALoginIsAnAccountsOnlyOnce) {
  const MailAccount work(UUID::random(), "Work", "ann@example.com", IMAPServer("imap.example.com", 993, false),
                         "custom", {"INBOX"}, {});
  const std::vector<MailAccount> accounts{work};
  const struct {
    const char* host;
    std::uint16_t port;
    const char* user;
    bool taken;
  } cases[] = {
      {"imap.example.com", 993, "ann@example.com", true},
      {"IMAP.Example.COM", 993, "ann@example.com", true},  // host names have no case
      {"imap.example.com", 1993, "ann@example.com", false},
      {"imap.example.com", 993, "Ann@example.com", false},  // a login is taken as it is
      {"mail.example.com", 993, "ann@example.com", false},
  };
  for (const auto& c : cases) {
    const auto found = AddAccountLogic::sameLogin(accounts, IMAPServer(c.host, c.port, false), c.user);
    EXPECT_EQ(found.has_value(), c.taken) << c.host << " " << c.port << " " << c.user;
  }
  const auto text = AddAccountLogic::alreadyAdded(work);
  EXPECT_EQ(text.title, "This account is already in Brindlebox");
  EXPECT_EQ(text.advice,
            "\u201CWork\u201D already backs up ann@example.com on imap.example.com. To give it a new password, remove "
            "it in Settings and add it again: its messages stay in the vault and are not downloaded again.");
}

TEST(HomePath, OnlyALeadingHomeFolderBecomesTilde) {
  struct Case {
    QString path, home, shown;
  };
  const Case cases[] = {
      {"/u/al/Vault", "/u/al", "~/Vault"},
      {"/u/al", "/u/al", "~"},
      {"/u/alice/Vault", "/u/al", "/u/alice/Vault"},
      {"/data/u/al/Vault", "/u/al", "/data/u/al/Vault"},
      {"/u/al/x/u/al/y", "/u/al", "~/x/u/al/y"},
      {"/u/al/Vault", "/u/al/", "~/Vault"},
      {"/Vault", "/", "/Vault"},
  };
  for (const auto& c : cases) EXPECT_EQ(tildePath(c.path, c.home), c.shown) << c.path.toStdString();
}
