// Unpacking refuses hostile zips without touching anything outside; the code
// seal notices every kind of change to an install folder.

#include "UpdaterFixtures.h"

#include "Updater/CodeSeal.h"
#include "Updater/Unpack.h"
#include "Updater/UpdateError.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace orrery;
using orrery::test::ZipMaker;

namespace {

QString str(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// Unpacks `zip` into <dir>/stage/into; returns the error message or "".
QString unpack(const bx::test::TempDir& dir, const QByteArray& zip, const UnpackLimits& limits = {}) {
  dir.write("stage/update.zip", std::string_view(zip.constData(), size_t(zip.size())));
  dir.mkdir("stage/into");
  try {
    unpackZip(str(dir / "stage/update.zip"), str(dir / "stage/into"), limits);
  } catch (const UpdateError& e) {
    return e.message;
  }
  return {};
}

} // namespace

TEST(Unpack, KeepsTreeModesAndLinks) {
  bx::test::TempDir dir;
  const QByteArray zip = ZipMaker()
                             .dir("Vault.app")
                             .file("Vault.app/run", "#!/bin/sh\n", 0755)
                             .file("Vault.app/lib/data", "data", 0640)
                             .link("Vault.app/current", "lib/data")
                             .link("Vault.app/lib/up", "../run")
                             .bytes();
  ASSERT_EQ(unpack(dir, zip), QString());
  const QString app = str(dir / "stage/into/Vault.app");
  EXPECT_EQ(QFileInfo(app + "/run").permissions() & 0x7777, QFile::Permissions(0x7755));
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(app + "/lib/data").constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(QFileInfo(app + "/current").symLinkTarget(), app + "/lib/data");
  EXPECT_EQ(dir.read("stage/into/Vault.app/lib/up"), "#!/bin/sh\n");
}

TEST(Unpack, RefusesHostileEntriesSaysWhyAndLeavesTheOutsideAlone) {
  bx::test::TempDir dir;
  dir.write("canary", "untouched");
  const QString canary = str(dir / "canary");
  struct Case {
    const char* what;
    QByteArray zip;
    QString why; // what the message says after the common opening
  } cases[] = {
      {"../ climbs out", ZipMaker().file("Vault.app/run", "x").file("../../canary", "owned").bytes(),
       "its archive holds \u201C../../canary\u201D, a path that leads outside the update."},
      {"../ inside a path", ZipMaker().file("Vault.app/../../../canary", "owned").bytes(), "a path that leads outside"},
      {"absolute path", ZipMaker().file(canary, "owned").bytes(), "a path that leads outside"},
      {"link out of the folder", ZipMaker().link("Vault.app/out", "../../../canary").bytes(),
       "its archive holds the link \u201CVault.app/out\u201D, which points outside the update."},
      {"absolute link", ZipMaker().link("Vault.app/out", canary).bytes(), "which points outside the update"},
      {"file through a link", ZipMaker().dir("Vault.app/lib").link("Vault.app/in", "lib").file("Vault.app/in/x", "x").bytes(),
       "\u201CVault.app/in/x\u201D, which would be written through a link."},
      {"file through an escaping link",
       ZipMaker().link("Vault.app/out", "../..").file("Vault.app/out/canary", "owned").bytes(),
       "which points outside the update"},
      // Each link reads as inside on its own; through the first, the second
      // resolves two folders above the unpack folder.
      {"a chain through an earlier link",
       ZipMaker().link("Vault.app/s", "..").link("Vault.app/t", "s/../..").bytes(),
       "the link \u201CVault.app/t\u201D, which leads to or through another link."},
      {"a chain made in the other order",
       ZipMaker().link("Vault.app/t", "s/../..").link("Vault.app/s", "..").bytes(),
       "the link \u201CVault.app/s\u201D, which leads to or through another link."},
      {"a link to a link", ZipMaker().link("Vault.app/a", "b").link("Vault.app/b", "../../..").bytes(),
       "which leads to or through another link"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir / "stage");
    const QString message = unpack(dir, c.zip);
    EXPECT_TRUE(message.startsWith(UpdateMessages::unpackRefused) && message.contains(c.why))
        << c.what << ": " << message.toStdString();
    EXPECT_EQ(dir.read("canary"), "untouched") << c.what;
    EXPECT_FALSE(QFileInfo::exists(str(dir / "stage/into/Vault.app/in/x"))) << c.what;
    // Whatever was unpacked before the refusal resolves inside, or nowhere.
    const QString into = QFileInfo(str(dir / "stage/into")).canonicalFilePath();
    QDirIterator it(into, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QFileInfo entry(it.next());
      const QString resolved = entry.canonicalFilePath();
      EXPECT_TRUE(resolved.isEmpty() || resolved == into || resolved.startsWith(into + "/"))
          << c.what << ": " << entry.filePath().toStdString() << " -> " << resolved.toStdString();
    }
  }
  // Links that point at files and folders stay allowed however they are
  // written.
  std::filesystem::remove_all(dir / "stage");
  EXPECT_EQ(unpack(dir, ZipMaker()
                            .dir("Vault.app/lib")
                            .file("Vault.app/lib/x", "x")
                            .link("Vault.app/a", "./lib/../lib/x")
                            .link("Vault.app/lib/b", "../lib")
                            .bytes()),
            QString());
}

TEST(Unpack, NoSetIdBitsAndCapsOnEntriesAndBytes) {
  bx::test::TempDir dir;
  ASSERT_EQ(unpack(dir, ZipMaker().file("Vault.app/tool", "x", 06755).bytes()), QString());
  struct stat st {};
  ASSERT_EQ(::stat((dir / "stage/into/Vault.app/tool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);

  std::filesystem::remove_all(dir / "stage");
  EXPECT_EQ(unpack(dir, ZipMaker().file("a", "1").file("b", "2").file("c", "3").bytes(), {2, 1 << 20}),
            UpdateMessages::unpackRefused + "its archive holds more than 2 entries.");
  std::filesystem::remove_all(dir / "stage");
  EXPECT_EQ(unpack(dir, ZipMaker().file("a", QByteArray(600, 'a')).file("b", QByteArray(600, 'b')).bytes(), {10, 1000}),
            UpdateMessages::unpackRefused + "its archive unpacks to more than 1000 bytes.");
  std::filesystem::remove_all(dir / "stage");
  EXPECT_EQ(unpack(dir, "PK\x03\x04 not really a zip"),
            UpdateMessages::unpackRefused + "its archive couldn\u2019t be read as a zip file.");
}

TEST(CodeSeal, NoticesEveryChange) {
  bx::test::TempDir dir;
  struct Case {
    const char* what;
    std::function<void(const QString&)> change;
    bool intact;
  } cases[] = {
      {"untouched", [](const QString&) {}, true},
      {"a byte changed",
       [](const QString& app) {
         QFile f(app + "/lib/data.txt");
         f.open(QIODevice::ReadWrite);
         f.write("V");
       },
       false},
      {"a file extra", [](const QString& app) { QFile(app + "/lib/extra").open(QIODevice::WriteOnly); }, false},
      {"a hidden file extra", [](const QString& app) { QFile(app + "/.hidden").open(QIODevice::WriteOnly); }, false},
      {"a folder extra", [](const QString& app) { QDir(app).mkdir("more"); }, false},
      {"a file missing", [](const QString& app) { QFile::remove(app + "/lib/data.txt"); }, false},
      {"a mode changed", [](const QString& app) { ::chmod(QFile::encodeName(app + "/lib/data.txt"), 0755); }, false},
      {"a link retargeted",
       [](const QString& app) {
         QFile::remove(app + "/data-link");
         QFile::link("app-info.json", app + "/data-link");
       },
       false},
      {"no seal", [](const QString& app) { QFile::remove(app + "/.orrery-seal"); }, false},
      {"the seal's list edited",
       [](const QString& app) {
         QFile f(app + "/.orrery-seal");
         f.open(QIODevice::ReadOnly);
         QByteArray s = f.readAll();
         f.close();
         s.replace("f 0644", "f 0600");
         f.open(QIODevice::WriteOnly | QIODevice::Truncate);
         f.write(s);
       },
       false},
  };
  for (const auto& c : cases) {
    const QString app = str(dir / "Vault.app");
    QDir(app).removeRecursively();
    test::writeAppInfo(app, test::appInfo("1.0"));
    QDir().mkpath(app + "/lib");
    dir.write("Vault.app/lib/data.txt", "contents");
    ::chmod((dir / "Vault.app/lib/data.txt").c_str(), 0644);
    QFile::link("lib/data.txt", app + "/data-link");
    ASSERT_TRUE(CodeSeal::write(app, test::privateKey()));
    c.change(app);
    QString why;
    EXPECT_EQ(CodeSeal::verify(app, &why), c.intact) << c.what << ": " << why.toStdString();
  }
}
