#pragma once

#include "AppTestSupport.h"
#include "Sheets/AddAccountSheet.h"
#include "TestSheetStore.h"
#include "Views/SafetyNote.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"

#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace bx::test {

// A main window with the wizard shown over it, as the shell does it.
class WizardTest : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    main_ = std::make_unique<QWidget>();
    main_->setObjectName("main");
    main_->resize(900, 700);
    main_->show();
    sheet = new AddAccountSheet(&store, main_.get());
    sheet->show();
    QVERIFY(QTest::qWaitForWindowExposed(sheet));
  }
  void TearDown() override {
    if (sheet) sheet->close();
    main_.reset();
    AddAccountSheet::snapshotStartStep.reset();
    AddAccountSheet::snapshotPreset.reset();
    AddAccountSheet::snapshotError.reset();
    AddAccountSheet::snapshotMailboxes.reset();
    PinnedLook::TearDown();
  }

  // A provider of the given id (its rules hang on the id alone); "custom" is
  // the table's own.
  static ProviderPreset preset(const QString& id) {
    if (id == "custom") return ProviderPreset::named("custom");
    return ProviderPreset{id, id + " Mail", "envelope.fill", "imap." + id + ".test", 993,
                          {"Make an app password.", "Paste it here."}, QUrl("https://" + id + ".test/security"),
                          id == "gmail" ? std::optional<QString>("Labels appear as folders.") : std::nullopt};
  }

  // The preset with its server pointed somewhere else.
  static ProviderPreset pointed(const QString& id, const QString& host, quint16 port) {
    ProviderPreset p = preset(id);
    p.host = host;
    p.port = port;
    return p;
  }

  static void type(QLineEdit* field, const QString& text) {
    ASSERT_NE(field, nullptr);
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
  }

  // A key as the user presses it: to the focused control, from which the
  // sheet gets what the control leaves alone.
  void key(Qt::Key k) {
    QWidget* target = sheet->focusWidget() ? sheet->focusWidget() : sheet.data();
    QTest::keyClick(target, k);
  }

  // Presses Return and waits for the sign-in test to end.
  bool connectAndWait(int ms = 20000) {
    QSignalSpy done(sheet.data(), &AddAccountSheet::signInFinished);
    key(Qt::Key_Return);
    if (!sheet->busy()) return done.count() > 0;
    return done.wait(ms);
  }

  QWidget* mainWindow() const { return main_.get(); }

  TestSheetStore store;
  QPointer<AddAccountSheet> sheet;

private:
  std::unique_ptr<QWidget> main_;
};

} // namespace bx::test
