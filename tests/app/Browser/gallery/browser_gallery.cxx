// Screenshots of the main window's browser columns over a generated vault:
//   bx_browser_gallery <output folder>
// Writes browser-<light|dark>-<1280x800|1100x620>.png, and the same with
// "-allclear" for an empty shelf, "-search" for a search with results (the
// results header) and "-nomatch" for one without. Runs under
// QT_QPA_PLATFORM=offscreen.

#include "Browser/BrowserWiring.h"
#include "Platform/Appearance.h"
#include "Shell/AppPalette.h"
#include "Shell/AppStoreShell.h"
#include "Shell/MainWindow.h"
#include "Store/AppStore.h"
#include "Theme/Motion.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimeZone>

using namespace bx;

namespace {

void writeMail(const QString& root, const QString& folder, const QString& name, const QString& email,
               const QString& subject, const QDateTime& date, const QString& body, int attachments, int serial) {
  const QString dir = root + QStringLiteral("/Work/") + folder;
  QDir().mkpath(dir);
  QFile f(dir + QStringLiteral("/%1.eml").arg(serial, 6, 10, QLatin1Char('0')));
  f.open(QIODevice::WriteOnly);
  QByteArray t = "From: \"" + name.toUtf8() + "\" <" + email.toUtf8() + ">\r\nTo: me@example.org\r\nSubject: " +
                 subject.toUtf8() + "\r\nDate: " +
                 QLocale::c().toString(date, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")).toUtf8() +
                 " +0000\r\nMessage-ID: <" + QByteArray::number(serial) + "@example.org>\r\nMIME-Version: 1.0\r\n";
  if (!attachments) {
    t += "Content-Type: text/plain; charset=utf-8\r\n\r\n" + body.toUtf8() + "\r\n";
  } else {
    t += "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" +
         body.toUtf8() + "\r\n--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; "
                         "filename=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERi0xLjQK\r\n--b--\r\n";
  }
  f.write(t);
}

void fill(const QString& root) {
  const QStringList people{"Ada Lovelace", "Grace Hopper", "Alan Turing", "Katherine Johnson", "Edsger Dijkstra"};
  const QStringList subjects{"Quarterly figures", "Lunch on Thursday?", "Re: the new archive layout",
                             "Invoice 2291 for November", "Photos from the trip"};
  int serial = 0;
  const QDate newest(2024, 11, 1);
  for (int m = 0; m < 30; ++m) {
    if (m == 7 || m == 8) continue;  // two months without mail
    const QDate month = newest.addMonths(-m);
    const int n = 3 + (m * 7) % 11;
    for (int i = 0; i < n; ++i) {
      const QDateTime when(month.addDays((i * 5) % 28), QTime(8 + i % 9, (i * 13) % 60), QTimeZone::utc());
      writeMail(root, i % 4 == 0 ? QStringLiteral("Sent") : QStringLiteral("INBOX"), people[(i + m) % people.size()],
                QStringLiteral("someone@example.org"), subjects[(i + m) % subjects.size()], when,
                QStringLiteral("A few lines about the matter at hand, and then a few more to fill the snippet line."),
                i % 3 == 0, serial++);
    }
  }
  const QDateTime top(QDate(2024, 11, 28), QTime(14, 5), QTimeZone::utc());
  writeMail(root, "INBOX", "R&D <b>x", "rd@example.org", "<img src=x> is shown as text", top, "Markup stays text.", 0, serial++);
  writeMail(root, "INBOX", "مكتب الفواتير", "billing@example.org",
            "فاتورة الشهر الماضي مع جميع التفاصيل المطلوبة للمراجعة والموافقة عليها قبل نهاية الأسبوع", top.addSecs(-60),
            "نص قصير", 1, serial++);
  writeMail(root, "INBOX", "A sender whose name goes on and on far beyond any reasonable length", "long@example.org",
            QString(300, QLatin1Char('W')), top.addSecs(-120), QString(), 0, serial++);
}

MailAccount account(const std::string& label, const std::string& user, const std::string& provider) {
  MailAccount a;
  a.id = UUID::random();
  a.label = label;
  a.username = user;
  a.provider = provider;
  a.lastBackup = std::chrono::system_clock::now() - std::chrono::minutes(12);
  return a;
}

} // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
  qputenv("BRINDLEBOX_CREDENTIALS_FILE", (home.path() + "/credentials").toUtf8());
  QApplication app(argc, argv);
  if (argc < 2) {
    QTextStream(stderr) << "usage: bx_browser_gallery <output folder>\n";
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  Motion::setInstant(true);
  QSettings().setValue("bx.didShowWelcome", true);
  QSettings().setValue("scheduleEnabled", true);
  installBrowserColumns();
  // The toolbar, menu bar and scroll bars follow the appearance as in the app.
  AppPalette::install();

  QTemporaryDir vault;
  fill(vault.path());
  const QStringList variants{QString(), "allclear", "search", "nomatch"};
  for (const QString& variant : variants) {
    qputenv("BRINDLEBOX_ARCHIVE_DIR", vault.path().toUtf8());
    for (const ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
      Appearance::shared().setOverride(scheme);
      for (const QSize size : {QSize(1280, 800), QSize(1100, 620)}) {
        AppStore store;
        {
          store.setAccounts({account("Work", "ada@example.org", "gmail"), account("Home", "ada@home.example", "fastmail")});
          store.setSavedSearches({{QUuid::createUuid(), "Invoices", "invoice"}});
        }
        store.reloadArchive();
        // The scan may not have begun yet: wait for its records too.
        QTest::qWaitFor([&] { return !store.indexing().has_value() && !store.records().empty(); }, 30000);
        store.refreshVisible();
        if (variant == "allclear") store.setSidebar(SidebarItem::makeSmart(SmartFilter::suspicious));
        if (variant == "search") store.setQuery(QStringLiteral("invoice"));
        if (variant == "nomatch") store.setQuery(QStringLiteral("zebra"));
        if (!store.visible().empty()) {
          store.setSelectedPath(QString::fromStdString(store.visible()[1]->path));
          store.timeline().setProbe(MonthKey(2024, 3));
        }
        AppStoreShell shell(store);
        MainWindow window(shell);
        window.resize(size);
        window.show();
        QTest::qWaitForWindowExposed(&window);
        QTest::qWait(300);
        const QString name = QStringLiteral("%1/browser-%2-%3x%4%5.png")
                                 .arg(out, scheme == ColorScheme::Dark ? "dark" : "light")
                                 .arg(size.width())
                                 .arg(size.height())
                                 .arg(variant.isEmpty() ? QString() : "-" + variant);
        window.grab().save(name);
        QTextStream(stdout) << name << "\n";
      }
    }
  }
  return 0;
}
