#include "support/DovecotFixture.h"
#include "support/FakeIMAPServer.h"
#include "support/Ports.h"
#include "Views/SafetyNote.h"
#include "Views/TextBlock.h"
#include "WizardSupport.h"

#include <QCheckBox>

using namespace bx;
using namespace bx::test;

namespace {

class SignInTest : public WizardTest {};

} // namespace

// One table through the fields against a real server.
TEST_F(SignInTest, AgainstDovecot) {
  DovecotFixture dovecot;
  DovecotFixture otherHost(DovecotOptions{.cert = CertKind::OtherHost});
  trustTestCA();
  const quint16 nobody = freeLoopbackPort();

  struct Case {
    const char* what;
    QString preset;
    QString host;
    quint16 port;
    bool plaintext;
    QString user, password;
    const char* error;            // nullptr: signs in
    std::string savedPassword;    // after success
  };
  const Case cases[] = {
      {"right password", "custom", "localhost", dovecot.imapsPort(), false, "alice", "alice-secret", nullptr,
       "alice-secret"},
      {"wrong password", "custom", "localhost", dovecot.imapsPort(), false, "alice", "nope", "The password wasn’t accepted",
       ""},
      {"nothing listens", "custom", "localhost", nobody, false, "alice", "alice-secret", "Couldn’t reach “localhost”",
       ""},
      {"certificate for another host", "custom", "localhost", otherHost.imapsPort(), false, "alice", "alice-secret",
       "A secure connection couldn’t be made", ""},
      {"spaced local host asks for TLS", "custom", " 127.0.0.1", dovecot.imapPort(), true, "alice", "alice-secret",
       "", ""},
      {"local host in plain text", "custom", "127.0.0.1", dovecot.imapPort(), true, "alice", "alice-secret", nullptr,
       "alice-secret"},
      {"gmail password typed in groups", "gmail", "localhost", dovecot.imapsPort(), false, " alice\t", "alice -sec ret",
       nullptr, "alice-secret"},
      {"custom password with spaces as typed", "custom", "localhost", dovecot.imapsPort(), false, "bob",
       "correct horse battery", nullptr, "correct horse battery"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (sheet) sheet->close();
    store.list.clear();
    sheet = new AddAccountSheet(&store, mainWindow());
    sheet->show();
    sheet->choose(pointed(c.preset, c.preset == "custom" ? QString() : c.host, c.preset == "custom" ? 993 : c.port));
    ASSERT_EQ(sheet->step(), AddAccountSheet::Step::Credentials);
    if (c.preset == "custom") {
      type(sheet->hostField(), c.host);
      type(sheet->portField(), QString::number(c.port));
      ASSERT_EQ(sheet->plaintextToggle()->isVisibleTo(sheet), c.host == "127.0.0.1");
      sheet->plaintextToggle()->setChecked(c.plaintext);
    }
    type(sheet->usernameField(), c.user);
    type(sheet->passwordField(), c.password);
    ASSERT_TRUE(connectAndWait());
    EXPECT_FALSE(sheet->busy());
    EXPECT_TRUE(sheet->forwardButton()->isEnabled() || sheet->step() == AddAccountSheet::Step::Folders);
    if (!c.error) {
      ASSERT_EQ(sheet->step(), AddAccountSheet::Step::Folders) << (sheet->error() ? sheet->error()->text() : "");
      ASSERT_FALSE(sheet->mailboxes().empty());
      EXPECT_EQ(sheet->mailboxes().front().name, "INBOX");
      EXPECT_EQ(sheet->chosen(), std::set<std::string>{"INBOX"});
      EXPECT_EQ(sheet->password().toStdString(), c.savedPassword);
      // Saving stores what signed in.
      key(Qt::Key_Return);
      ASSERT_EQ(store.list.size(), 1u);
      EXPECT_EQ(store.passwords[store.list[0].id.string()], c.savedPassword);
      EXPECT_EQ(store.list[0].username, QString(c.user).trimmed().toStdString());
      ASSERT_EQ(store.backups.size(), 1u);
      EXPECT_EQ(store.backups[0]->id, store.list[0].id) << "the first backup starts";
      store.backups.clear();
      sheet = nullptr;  // closed and deleted
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } else {
      EXPECT_EQ(sheet->step(), AddAccountSheet::Step::Credentials);
      ASSERT_TRUE(sheet->error().has_value());
      if (*c.error) EXPECT_EQ(sheet->error()->title, c.error);
      ASSERT_NE(sheet->errorNote(), nullptr);
      EXPECT_EQ(sheet->errorNote()->titleBlock()->text().toStdString(), sheet->error()->title);
      EXPECT_EQ(sheet->password(), c.password) << "a failed test leaves the typed password";
      EXPECT_TRUE(store.list.empty());
    }
  }
}
