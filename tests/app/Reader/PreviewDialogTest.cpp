// The in-app preview picks what it can draw and never lays out a huge text.

#include "Platform/PreviewDialog.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace bx;

namespace {

TEST(PreviewDialogTest, KindsByNameThenContent) {
  QTemporaryDir dir;
  auto write = [&](const QString& name, const QByteArray& data) {
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(data);
    return dir.filePath(name);
  };
  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(Qt::red);
  image.save(dir.filePath("red.png"));
  struct Case {
    QString path;
    PreviewDialog::Kind kind;
  };
  const std::vector<Case> cases = {
      {dir.filePath("red.png"), PreviewDialog::Kind::Image},
      {write("notes.txt", "hello\n"), PreviewDialog::Kind::Text},
      {write("doc.pdf", "%PDF-1.4\n"), PreviewDialog::Kind::Pdf},
      {write("big.bin", QByteArray(2 * 1024 * 1024, 'z')), PreviewDialog::Kind::Other},
      {write("noname", QByteArray("\x7f" "ELF\x02\x01", 6)), PreviewDialog::Kind::Other},
  };
  for (const auto& c : cases) EXPECT_EQ(PreviewDialog::kindOf(c.path), c.kind) << c.path.toStdString();

  // A file that claims to be an image but is not falls back to name, size and Save….
  int saved = 0;
  auto* broken = new PreviewDialog(write("broken.png", "not a png"), [&] { ++saved; });
  EXPECT_EQ(broken->kind(), PreviewDialog::Kind::Other);
  auto* button = broken->findChild<QPushButton*>();
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->text(), "Save…");
  button->click();
  EXPECT_EQ(saved, 1);
  delete broken;
}

} // namespace
