#include "support/FakeIMAPServer.h"
#include "WizardSupport.h"

#include <QCheckBox>
#include <functional>

using namespace bx;
using namespace bx::test;
using namespace std::chrono_literals;

namespace {

class SignInRaceTest : public WizardTest {
protected:
  // The credentials step filled in for a plain local server on `port`.
  void fillLocal(quint16 port) {
    sheet->choose(ProviderPreset::named("custom"));
    type(sheet->hostField(), "127.0.0.1");
    type(sheet->portField(), QString::number(port));
    sheet->plaintextToggle()->setChecked(true);
    type(sheet->usernameField(), "alice");
    type(sheet->passwordField(), "secret");
  }
};

} // namespace

// While the server holds its answer to LOGIN, anything that changes what the
// test signs in with stops it; its late success must not move the wizard.
TEST_F(SignInRaceTest, ChangeDuringTheTestDropsItsResult) {
  struct Case {
    const char* what;
    std::function<void(AddAccountSheet*)> act;
  };
  const Case cases[] = {
      {"edit the user name", [](AddAccountSheet* s) { QTest::keyClicks(s->usernameField(), "x"); }},
      {"edit the password", [](AddAccountSheet* s) { QTest::keyClicks(s->passwordField(), "x"); }},
      {"edit the host", [](AddAccountSheet* s) { QTest::keyClick(s->hostField(), Qt::Key_Backspace); }},
      {"Back", [](AddAccountSheet* s) { s->backButton()->click(); }},
      {"another provider", [](AddAccountSheet* s) { s->choose(WizardTest::preset("fastmail")); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeIMAPServer fake;
    fake.send("* OK [CAPABILITY IMAP4rev1] ready\r\n")
        .expect("{tag} LOGIN *")
        .stall(700ms)
        .send("{tag} OK [CAPABILITY IMAP4rev1] in\r\n")
        .expect("{tag} LIST *")
        .send("* LIST () \"/\" INBOX\r\n{tag} OK done\r\n")
        .expect("{tag} LOGOUT")
        .send("* BYE\r\n{tag} OK bye\r\n");
    fake.start();
    fillLocal(fake.port());
    QSignalSpy finished(sheet.data(), &AddAccountSheet::signInFinished);
    key(Qt::Key_Return);
    ASSERT_TRUE(sheet->busy());
    EXPECT_TRUE(sheet->signingIndicator()->isVisible());
    EXPECT_FALSE(sheet->forwardButton()->isEnabled()) << "no second test while one runs";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.received().find("LOGIN") != std::string::npos; }, 5000));
    c.act(sheet);
    EXPECT_FALSE(sheet->signingIndicator()->isVisible());
    EXPECT_FALSE(sheet->busy()) << "the stopped test no longer counts as running";
    QTest::qWait(1200);  // past the server's late OK
    EXPECT_NE(sheet->step(), AddAccountSheet::Step::Folders);
    EXPECT_TRUE(sheet->mailboxes().empty());
    EXPECT_FALSE(sheet->error().has_value());
    EXPECT_EQ(sheet->password(), c.what == std::string("edit the password") ? "secretx" : "secret");
    // The sheet is ready for the next test.
    if (sheet->step() == AddAccountSheet::Step::Credentials) EXPECT_TRUE(sheet->forwardButton()->isEnabled());
    sheet->close();
    sheet = new AddAccountSheet(&store, mainWindow());
    sheet->show();
  }
}

// A second test is never overtaken by the first one's late answer.
TEST_F(SignInRaceTest, LateResultOfAnOlderRunIsIgnored) {
  FakeIMAPServer slow;
  slow.send("* OK [CAPABILITY IMAP4rev1] ready\r\n")
      .expect("{tag} LOGIN *")
      .stall(900ms)
      .send("{tag} OK in\r\n")
      .expect("{tag} LIST *")
      .send("* LIST () \"/\" INBOX\r\n{tag} OK done\r\n");
  slow.start();
  FakeIMAPServer refusing;
  refusing.send("* OK [CAPABILITY IMAP4rev1] ready\r\n")
      .expect("{tag} LOGIN *")
      .send("{tag} NO [AUTHENTICATIONFAILED] bad\r\n");
  refusing.start();
  fillLocal(slow.port());
  key(Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return slow.received().find("LOGIN") != std::string::npos; }, 5000));
  type(sheet->portField(), QString::number(refusing.port()));  // stops the first run
  QSignalSpy finished(sheet.data(), &AddAccountSheet::signInFinished);
  key(Qt::Key_Return);
  ASSERT_TRUE(finished.wait(10000));
  QTest::qWait(1200);  // past the first server's late OK
  EXPECT_EQ(sheet->step(), AddAccountSheet::Step::Credentials);
  ASSERT_TRUE(sheet->error().has_value());
  EXPECT_EQ(sheet->error()->title, "The password wasn’t accepted");
  EXPECT_FALSE(sheet->busy());
}

// Cancelling while the greeting is on its way: the password never leaves.
TEST_F(SignInRaceTest, CancelBeforeTheGreetingSendsNoLogin) {
  for (const Qt::Key how : {Qt::Key_Escape, Qt::Key_unknown}) {
    SCOPED_TRACE(how == Qt::Key_Escape ? "Escape" : "Cancel button");
    FakeIMAPServer fake;
    fake.stall(800ms).send("* OK [CAPABILITY IMAP4rev1] ready\r\n").expect("{tag} LOGIN *").send("{tag} OK in\r\n");
    fake.start();
    fillLocal(fake.port());
    key(Qt::Key_Return);
    ASSERT_TRUE(sheet->busy());
    if (how == Qt::Key_Escape)
      key(Qt::Key_Escape);
    else
      sheet->cancelButton()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sheet.isNull()) << "the sheet is gone at once, without waiting for the worker";
    QTest::qWait(1500);
    EXPECT_EQ(fake.received().find("LOGIN"), std::string::npos) << fake.received();
    sheet = new AddAccountSheet(&store, mainWindow());
    sheet->show();
  }
}
