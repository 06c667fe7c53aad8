#pragma once
// A vault of generated messages behind a real store, for the views of the
// main window. The process gets its own home and configuration folders
// before anything reads settings.

#include "AppTestSupport.h"
#include "Store/AppStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTest>
#include <memory>

namespace bx::test {

struct Mail {
  QString account = QStringLiteral("Work");
  QString folder = QStringLiteral("INBOX");
  QString fromName = QStringLiteral("Ada Lovelace");
  QString fromEmail = QStringLiteral("ada@example.org");
  QString subject = QStringLiteral("Quarterly figures");
  QDateTime date;
  QString body = QStringLiteral("Numbers for the quarter are in.");
  int attachments = 0;
};

// Writes one .eml file below `root`; returns its vault-relative path.
inline QString writeMail(const QString& root, const Mail& m, int serial) {
  const QString dir = root + QLatin1Char('/') + m.account + QLatin1Char('/') + m.folder;
  QDir().mkpath(dir);
  const QString rel = m.account + QLatin1Char('/') + m.folder + QStringLiteral("/%1.eml").arg(serial, 6, 10, QLatin1Char('0'));
  QFile f(root + QLatin1Char('/') + rel);
  f.open(QIODevice::WriteOnly);
  const QString date = QLocale::c().toString(m.date.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")) + QStringLiteral(" +0000");
  QByteArray text = "From: \"" + m.fromName.toUtf8() + "\" <" + m.fromEmail.toUtf8() + ">\r\n" + "To: me@example.org\r\n" +
                    "Subject: " + m.subject.toUtf8() + "\r\n" + "Date: " + date.toUtf8() + "\r\n" +
                    "Message-ID: <" + QByteArray::number(serial) + "@example.org>\r\n" + "MIME-Version: 1.0\r\n";
  if (m.attachments == 0) {
    text += "Content-Type: text/plain; charset=utf-8\r\n\r\n" + m.body.toUtf8() + "\r\n";
  } else {
    text += "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n" + m.body.toUtf8() +
            "\r\n";
    for (int i = 0; i < m.attachments; ++i)
      text += "--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"f" +
              QByteArray::number(i) + ".pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERi0xLjQK\r\n";
    text += "--b--\r\n";
  }
  f.write(text);
  return rel;
}

// `perMonth` messages in each of `months` months ending in `newest`.
inline void writeMonths(const QString& root, QDate newest, int months, int perMonth, int* serial) {
  for (int m = 0; m < months; ++m) {
    const QDate first = QDate(newest.year(), newest.month(), 1).addMonths(-m);
    for (int i = 0; i < perMonth; ++i) {
      Mail mail;
      mail.date = QDateTime(first.addDays(i % 27), QTime(9 + i % 8, 15), QTimeZone::utc());
      mail.subject = QStringLiteral("Report %1 of %2").arg(i).arg(first.toString(QStringLiteral("yyyy-MM")));
      mail.fromName = i % 3 ? QStringLiteral("Grace Hopper") : QStringLiteral("Ada Lovelace");
      mail.folder = i % 5 == 0 ? QStringLiteral("Sent") : QStringLiteral("INBOX");
      mail.attachments = i % 7 == 0 ? 1 : 0;
      writeMail(root, mail, (*serial)++);
    }
  }
}

class BrowserFixture : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ASSERT_TRUE(vault.isValid());
    qputenv("BRINDLEBOX_ARCHIVE_DIR", vault.path().toUtf8());
    // ctest runs the cases as parallel processes: a settings file of their
    // own keeps one case's schedule out of another's strip.
    ASSERT_TRUE(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    QSettings().clear();
  }
  void TearDown() override {
    store.reset();
    qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
    QLocale::setDefault(QLocale::system());
    PinnedLook::TearDown();
  }
  // Makes the store and reads the vault.
  void open() {
    store = std::make_unique<AppStore>();
    store->reloadArchive();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store->indexing().has_value(); }, 30000)) << "scan did not finish";
    store->refreshVisible();
  }
  QString root() const { return vault.path(); }

  QTemporaryDir vault;
  QTemporaryDir settingsDir;
  std::unique_ptr<AppStore> store;
};

}  // namespace bx::test
