// Writes the add-account wizard's three steps and the four settings tabs as
// PNG files, light and dark, for looking at by eye:
//   bx_sheets_gallery <output folder>
// Runs under QT_QPA_PLATFORM=offscreen.

#include "Platform/Appearance.h"
#include "Platform/ReduceMotion.h"
#include "Sheets/AddAccountSheet.h"
#include "Sheets/SettingsView.h"
#include "TestSheetStore.h"
#include "Theme/Motion.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTest>
#include <QTextStream>

using namespace bx;

namespace {

IMAPMailbox box(const std::string& name, std::vector<std::string> attributes = {}) {
  return IMAPMailbox(name, name, "/", std::move(attributes));
}

ProviderPreset samplePreset() {
  // The table's first row when it has steps; else a stand-in with the look of one.
  const ProviderPreset& first = ProviderPreset::all().front();
  if (!first.steps.isEmpty()) return first;
  return ProviderPreset{"gmail",
                        "Gmail",
                        "envelope.fill",
                        "imap.gmail.com",
                        993,
                        {"Turn on 2-Step Verification for your Google Account (app passwords need it).",
                         "Open Google Account › Security › App passwords (or use the button below).",
                         "Type “Brindlebox” as the app name and click Create.",
                         "Copy the 16-letter password Google shows and paste it here. Spaces don’t matter."},
                        QUrl("https://myaccount.google.com/apppasswords"),
                        QString("Gmail labels appear as folders. “[Gmail]/All Mail” holds every message once, so "
                                "backing up just that folder avoids duplicates.")};
}

void save(QWidget& w, const QString& path, QTextStream& out) {
  QTest::qWait(50);
  w.grab().save(path);
  out << path << "\n";
}

} // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("sheets-gallery");
  QDir().mkpath(dir);
  QTextStream out(stdout);
  Motion::setInstant(true);
  ReduceMotion::shared().setOverride(false);

  test::TestSheetStore store;
  store.root = QDir::homePath() + "/Brindlebox Vault";
  store.list.push_back(MailAccount(UUID::random(), "Work", "ann@example.com",
                                   IMAPServer("imap.example.com", 993, false), "custom", {"INBOX", "Sent"},
                                   {box("INBOX"), box("Sent", {"\\Sent"}), box("R&D <b>x</b>")}));
  store.list.push_back(MailAccount(UUID::random(), "Home", "ann@home.example", IMAPServer("imap.home.example", 993, false),
                                   "gmail", {"[Gmail]/All Mail"}, {box("[Gmail]/All Mail", {"\\All"})},
                                   std::chrono::system_clock::now() - std::chrono::hours(3)));

  for (const auto scheme : {ColorScheme::Light, ColorScheme::Dark}) {
    Appearance::shared().setOverride(scheme);
    const QString look = scheme == ColorScheme::Light ? "light" : "dark";

    QWidget host;
    host.resize(900, 700);
    host.show();
    const std::pair<AddAccountSheet::Step, const char*> steps[] = {
        {AddAccountSheet::Step::Provider, "wizard-1-provider"},
        {AddAccountSheet::Step::Credentials, "wizard-2-credentials"},
        {AddAccountSheet::Step::Folders, "wizard-3-folders"}};
    for (const auto& [step, name] : steps) {
      AddAccountSheet::snapshotPreset = samplePreset();
      AddAccountSheet::snapshotStartStep = step == AddAccountSheet::Step::Provider ? std::nullopt
                                                                                   : std::optional(step);
      AddAccountSheet::snapshotError.reset();
      AddAccountSheet::snapshotMailboxes = std::vector<IMAPMailbox>{
          box("INBOX", {"\\HasNoChildren"}), box("[Gmail]/All Mail", {"\\All"}), box("[Gmail]/Sent Mail", {"\\Sent"}),
          box("[Gmail]", {"\\Noselect"}), box("Receipts"), box("R&D <b>x</b>"), box("Work 9"), box("Work 10")};
      auto* sheet = new AddAccountSheet(&store, &host);
      sheet->show();
      save(*sheet, dir + "/" + name + "-" + look + ".png", out);
      sheet->close();
    }
    // The credentials step with a refused sign-in, on a server of one's own.
    AddAccountSheet::snapshotPreset = ProviderPreset::named("custom");
    AddAccountSheet::snapshotStartStep = AddAccountSheet::Step::Credentials;
    AddAccountSheet::snapshotError = QString("[AUTHENTICATIONFAILED] Authentication failed.");
    {
      auto* sheet = new AddAccountSheet(&store, &host);
      sheet->show();
      save(*sheet, dir + "/wizard-2-credentials-error-" + look + ".png", out);
      sheet->close();
    }
    AddAccountSheet::snapshotError.reset();

    const char* tabs[] = {"settings-1-general", "settings-2-accounts", "settings-3-about", "settings-4-updates"};
    for (int i = 0; i < 4; ++i) {
      QWidget window;
      window.setWindowTitle("Settings");
      SettingsView view(&store, &window);
      window.resize(view.size());
      view.tabs()->setCurrentIndex(i);
      window.show();
      save(window, dir + "/" + tabs[i] + "-" + look + ".png", out);
    }
  }
  return 0;
}
