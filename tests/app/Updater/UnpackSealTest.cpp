// Unpacking refuses hostile zips without touching anything outside; the code
// seal notices every kind of change to an install folder.

#include "UpdaterFixtures.h"

#include "Updater/CodeSeal.h"
#include "Updater/Unpack.h"
#include "Updater/UpdateError.h"

#include <QDir>
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

TEST(Unpack, RefusesHostileEntriesAndLeavesTheOutsideAlone) {
  bx::test::TempDir dir;
  dir.write("canary", "untouched");
  const QString canary = str(dir / "canary");
  struct Case {
    const char* what;
    QByteArray zip;
  } cases[] = {
      {"../ climbs out", ZipMaker().file("Vault.app/run", "x").file("../../canary", "owned").bytes()},
      {"../ inside a path", ZipMaker().file("Vault.app/../../../canary", "owned").bytes()},
      {"absolute path", ZipMaker().file(canary, "owned").bytes()},
      {"link out of the folder", ZipMaker().link("Vault.app/out", "../../../canary").bytes()},
      {"absolute link", ZipMaker().link("Vault.app/out", canary).bytes()},
      {"file through a link", ZipMaker().dir("Vault.app/lib").link("Vault.app/in", "lib").file("Vault.app/in/x", "x").bytes()},
      {"file through an escaping link",
       ZipMaker().link("Vault.app/out", "../..").file("Vault.app/out/canary", "owned").bytes()},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir / "stage");
    EXPECT_EQ(unpack(dir, c.zip), UpdateMessages::unpackFailed) << c.what;
    EXPECT_EQ(dir.read("canary"), "untouched") << c.what;
    EXPECT_FALSE(QFileInfo::exists(str(dir / "stage/into/Vault.app/in/x"))) << c.what;
  }
}

TEST(Unpack, NoSetIdBitsAndCapsOnEntriesAndBytes) {
  bx::test::TempDir dir;
  ASSERT_EQ(unpack(dir, ZipMaker().file("Vault.app/tool", "x", 06755).bytes()), QString());
  struct stat st {};
  ASSERT_EQ(::stat((dir / "stage/into/Vault.app/tool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);

  std::filesystem::remove_all(dir / "stage");
  EXPECT_EQ(unpack(dir, ZipMaker().file("a", "1").file("b", "2").file("c", "3").bytes(), {2, 1 << 20}),
            UpdateMessages::unpackFailed);
  std::filesystem::remove_all(dir / "stage");
  EXPECT_EQ(unpack(dir, ZipMaker().file("a", QByteArray(600, 'a')).file("b", QByteArray(600, 'b')).bytes(), {10, 1000}),
            UpdateMessages::unpackFailed);
  std::filesystem::remove_all(dir / "stage");
  EXPECT_EQ(unpack(dir, "PK\x03\x04 not really a zip"), UpdateMessages::unpackFailed);
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
