// Attachments on disk: names, the private preview folder, and saving.

#include "Reader/AttachmentFiles.h"
#include "ReaderTestSupport.h"
#include "Util/AtomicFile.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace bx;
using namespace bx::test;
namespace fs = std::filesystem;

namespace {

MailAttachment attachment(std::string name, std::string data) {
  MailAttachment a;
  a.filename = std::move(name);
  a.mimeType = "application/octet-stream";
  a.data = std::move(data);
  return a;
}

std::string allBytes(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = char(i % 256);
  return s;
}

mode_t modeOf(const fs::path& p) {
  struct stat st {};
  ::lstat(p.c_str(), &st);
  return st.st_mode & 0777;
}

QMessageBox* saveAlert() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "saveFailedAlert" && w->isVisible()) return qobject_cast<QMessageBox*>(w);
  return nullptr;
}

TEST(AttachmentFilesTest, CleanNames) {
  const std::vector<std::pair<std::string, QString>> cases = {
      {"", "attachment"},
      {"///", "attachment"},
      {"..", "attachment"},
      {"../../etc/passwd", "etc passwd"},
      {"invoice\u202Egpj.exe", "invoicegpj.exe"},
      {"a\u2066b\u2069.pdf", "ab.pdf"},
      {"report.pdf", "report.pdf"},
      {std::string("line\r\nbreak\0nul.pdf", 19), "line break nul.pdf"},
      {"\u200Fright\u200E\u061Cleft.txt", "rightleft.txt"},
  };
  for (const auto& [raw, clean] : cases) EXPECT_EQ(AttachmentFiles::cleanName(raw), clean) << raw;
  // A long name is cut in the middle and keeps its extension, within 120
  // characters and 150 bytes.
  const QString longName = AttachmentFiles::cleanName(std::string(150, 'a') + std::string(50, 'z') + ".pdf");
  EXPECT_EQ(longName.size(), 120);
  EXPECT_TRUE(longName.startsWith("aaaa"));
  EXPECT_TRUE(longName.endsWith("zzzz.pdf")) << longName.toStdString();
  EXPECT_TRUE(longName.contains(QStringLiteral("…")));
  const QString wide = AttachmentFiles::cleanName(std::string(100, 'x') + "ééééééééééééééééééééééééééééééééééééé.docx");
  EXPECT_LE(wide.toUtf8().size(), 150);
  EXPECT_TRUE(wide.endsWith("é.docx"));
}

TEST(AttachmentFilesTest, PreviewFilesArePrivateAndNeverFollowAPlantedLink) {
  const MailAttachment a = attachment("photo.png", allBytes(70000));
  auto first = AttachmentFiles::temporaryURL(a, "Work/INBOX/2026/m.eml");
  ASSERT_TRUE(first);
  EXPECT_EQ(modeOf(AttachmentFiles::attachmentsRoot()), 0700u);
  EXPECT_EQ(modeOf(AttachmentFiles::runFolder()), 0700u);
  EXPECT_EQ(modeOf(first->parent_path()), 0700u);
  EXPECT_EQ(modeOf(*first), 0600u);
  EXPECT_EQ(readFile(*first), a.data);
  EXPECT_EQ(first->filename(), "photo.png");

  // A link planted under the final name is replaced, its target untouched.
  QTemporaryDir elsewhere;
  const fs::path victim = fs::path(elsewhere.path().toStdString()) / "victim";
  { std::ofstream(victim) << "keep"; }
  fs::remove(*first);
  fs::create_symlink(victim, *first);
  auto again = AttachmentFiles::temporaryURL(a, "Work/INBOX/2026/m.eml");
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *first);
  EXPECT_FALSE(fs::is_symlink(*again));
  EXPECT_EQ(readFile(victim), "keep");
  EXPECT_EQ(readFile(*again), a.data);

  // No temporary pieces stay beside it; the run's folder goes at quit.
  int entries = 0;
  for (const auto& e : fs::directory_iterator(again->parent_path())) (void)e, ++entries;
  EXPECT_EQ(entries, 1);
  AttachmentFiles::removeRunFolder();
  EXPECT_FALSE(fs::exists(*again));
}

TEST(AttachmentFilesTest, LeftoversOfGoneRunsAreRemovedAtStart) {
  const fs::path root = AttachmentFiles::attachmentsRoot();
  const fs::path gone = root / "run-999999999";
  fs::create_directories(gone / "x");
  const fs::path mine = AttachmentFiles::runFolder();
  AttachmentFiles::removeLeftovers();
  EXPECT_FALSE(fs::exists(gone));
  EXPECT_TRUE(fs::exists(mine));
}

TEST(AttachmentFilesTest, SavesByteExactUnderTheChosenName) {
  QTemporaryDir dir;
  for (size_t size : {size_t(256), size_t(20) * 1024 * 1024}) {
    const MailAttachment a = attachment("../weird/name.bin", allBytes(size));
    QString suggested;
    const QString target = dir.filePath("chosen-" + QString::number(size) + ".bin");
    AttachmentFiles::setChooser([&](const QString& s) -> std::optional<QString> {
      suggested = s;
      return target;
    });
    const auto name = AttachmentFiles::save(a);
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, "chosen-" + QString::number(size) + ".bin");
    EXPECT_EQ(suggested, "weird name.bin");
    EXPECT_EQ(readFile(target.toStdString()), a.data);
  }
  AttachmentFiles::setChooser([](const QString&) { return std::nullopt; });
  EXPECT_FALSE(AttachmentFiles::save(attachment("a", "b")));
  EXPECT_EQ(saveAlert(), nullptr);
  AttachmentFiles::setChooser(nullptr);
}

TEST(AttachmentFilesTest, AFailedSaveShowsTheAlertAndKeepsTheOldFile) {
  QTemporaryDir dir;
  const QString regular = dir.filePath("plain-file");
  { std::ofstream(regular.toStdString()) << "old"; }
  AttachmentFiles::setChooser([&](const QString&) -> std::optional<QString> { return regular + "/under.bin"; });
  // The alert names the file as the chip and the dialog do.
  EXPECT_FALSE(AttachmentFiles::save(attachment("Bill <1>\u202Efdp.exe\n.pdf", "new")));
  QMessageBox* alert = saveAlert();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->text(), "Couldn’t save “Bill 1 fdp.exe .pdf”");
  EXPECT_TRUE(alert->informativeText().endsWith("\n\nTry another folder, such as Downloads or your Desktop."));
  alert->close();
  EXPECT_EQ(readFile(regular.toStdString()), "old");
  AttachmentFiles::setChooser(nullptr);
}

} // namespace
