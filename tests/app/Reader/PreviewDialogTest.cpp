// The in-app preview picks what it can draw, never lays out a huge text, and
// decodes images and PDFs in its helper process, so a hostile file costs the
// helper, not the application.

#include "Platform/PreviewDialog.h"
#include "Platform/PreviewFrames.h"
#include "ReaderTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace bx;
using bx::test::waitUntil;

namespace {

class PreviewDialogTest : public ::testing::Test {
protected:
  QString write(const QString& name, const QByteArray& data) {
    QFile f(dir_.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(data);
    return dir_.filePath(name);
  }
  // Opens a preview and waits until its content is in place.
  PreviewDialog* open(const QString& path, int* saved = nullptr, PreviewDecoder::Limits limits = {}) {
    auto* dialog = new PreviewDialog(path, [saved] { if (saved) ++*saved; }, nullptr, limits);
    bool ready = false;
    QObject::connect(dialog, &PreviewDialog::ready, [&ready] { ready = true; });
    EXPECT_TRUE(waitUntil([&] { return ready; }, 30000)) << path.toStdString();
    return dialog;
  }
  static QList<QPixmap> pictures(PreviewDialog* dialog) {
    QList<QPixmap> out;
    for (auto* label : dialog->findChildren<QLabel*>("previewPicture")) out << label->pixmap();
    return out;
  }
  static void expectSaveFallback(PreviewDialog* dialog, int& saved) {
    EXPECT_EQ(dialog->kind(), PreviewDialog::Kind::Other);
    EXPECT_TRUE(pictures(dialog).isEmpty());
    auto* button = dialog->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Save…");
    const int before = saved;
    button->click();
    EXPECT_EQ(saved, before + 1);
  }

  QTemporaryDir dir_;
};

// A PNG whose header declares `side` × `side` grey pixels and whose data
// really inflates to all of them: a few hundred kilobytes on disk.
QByteArray decompressionBomb(quint32 side) {
  auto chunk = [](const char* type, const QByteArray& body) {
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(body.size()), out.data());
    QByteArray typed = QByteArray(type) + body;
    out += typed;
    QByteArray crc(4, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()))),
                          crc.data());
    return out + crc;
  };
  QByteArray header(13, '\0');
  qToBigEndian<quint32>(side, header.data());
  qToBigEndian<quint32>(side, header.data() + 4);
  header[8] = 8;  // bit depth; colour type 0 (grey)
  z_stream z{};
  deflateInit(&z, Z_BEST_COMPRESSION);
  const QByteArray zeros(1 << 20, '\0');
  QByteArray data;
  char out[1 << 16];
  qint64 left = qint64(side) * (side + 1);  // a filter byte per row
  while (left > 0) {
    const uInt n = uInt(std::min<qint64>(left, zeros.size()));
    left -= n;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
    z.avail_in = n;
    const int flush = left > 0 ? Z_NO_FLUSH : Z_FINISH;
    do {
      z.next_out = reinterpret_cast<Bytef*>(out);
      z.avail_out = sizeof out;
      deflate(&z, flush);
      data.append(out, int(sizeof out - z.avail_out));
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", data) + chunk("IEND", {});
}

TEST_F(PreviewDialogTest, KindsByNameThenContent) {
  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(Qt::red);
  image.save(dir_.filePath("red.png"));
  struct Case {
    QString path;
    PreviewDialog::Kind kind;
  };
  const std::vector<Case> cases = {
      {dir_.filePath("red.png"), PreviewDialog::Kind::Image},
      {write("notes.txt", "hello\n"), PreviewDialog::Kind::Text},
      {write("doc.pdf", "%PDF-1.4\n"), PreviewDialog::Kind::Pdf},
      {write("big.bin", QByteArray(2 * 1024 * 1024, 'z')), PreviewDialog::Kind::Other},
      {write("noname", QByteArray("\x7f" "ELF\x02\x01", 6)), PreviewDialog::Kind::Other},
  };
  for (const auto& c : cases) EXPECT_EQ(PreviewDialog::kindOf(c.path), c.kind) << c.path.toStdString();
}

TEST_F(PreviewDialogTest, ImagesAndPdfPagesComeBackFromTheHelper) {
  QImage image(40, 30, QImage::Format_RGB32);
  image.fill(QColor(10, 200, 30));
  image.save(dir_.filePath("green.png"));
  auto* shown = open(dir_.filePath("green.png"));
  EXPECT_EQ(shown->kind(), PreviewDialog::Kind::Image);
  const auto images = pictures(shown);
  ASSERT_EQ(images.size(), 1);
  EXPECT_EQ(images[0].size(), QSize(40, 30));
  EXPECT_EQ(images[0].toImage().pixelColor(20, 15), QColor(10, 200, 30));
  delete shown;

  {
    QPdfWriter pdf(dir_.filePath("two.pdf"));
    QPainter p(&pdf);
    p.drawText(100, 100, "one");
    pdf.newPage();
    p.drawText(100, 100, "two");
  }
  auto* pages = open(dir_.filePath("two.pdf"));
  EXPECT_EQ(pages->kind(), PreviewDialog::Kind::Pdf);
  EXPECT_EQ(pictures(pages).size(), 2);
  delete pages;
}

TEST_F(PreviewDialogTest, HostileFilesFallBackToNameSizeAndSave) {
  int saved = 0;
  struct Case {
    const char* what;
    QString path;
  };
  const std::vector<Case> cases = {
      {"corrupt image", write("broken.png", QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(300, '\xff'))},
      {"decompression bomb", write("bomb.png", decompressionBomb(20000))},
      {"corrupt PDF", write("broken.pdf", "%PDF-1.7\n1 0 obj << /Type /Catalog /Pages 9 0 R >>\nxref\ntrailer\n")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto* dialog = open(c.path, &saved);
    expectSaveFallback(dialog, saved);
    delete dialog;
  }
}

TEST_F(PreviewDialogTest, TheHelperRunsUnderItsLimits) {
  QImage image(400, 300, QImage::Format_RGB32);
  image.fill(Qt::blue);
  image.save(dir_.filePath("blue.png"));
  int saved = 0;
#if !defined(__SANITIZE_ADDRESS__)
  {
    SCOPED_TRACE("memory: the helper cannot even start in 16 MB");
    auto* dialog = open(dir_.filePath("blue.png"), &saved, {15, 16ll * 1024 * 1024});
    expectSaveFallback(dialog, saved);
    delete dialog;
  }
#endif

  const QByteArray helper = qgetenv("BRINDLEBOX_PREVIEW_HELPER");
  auto script = [&](const QString& name, const QByteArray& body) {
    const QString path = write(name, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
  };
  struct Case {
    const char* what;
    QString helper;
  };
  const std::vector<Case> cases = {
      {"a helper that hangs is killed", script("hang.sh", "exec sleep 60")},
      {"garbage on stdout", script("junk.sh", "cat >/dev/null; printf 'BXPF\\377\\377\\377\\377'; exit 0")},
      {"a crashing helper", script("crash.sh", "cat >/dev/null; kill -SEGV $$")},
      {"no helper", dir_.filePath("missing")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    qputenv("BRINDLEBOX_PREVIEW_HELPER", c.helper.toLocal8Bit());
    auto* dialog = open(dir_.filePath("blue.png"), &saved, {1, 2048ll * 1024 * 1024});
    expectSaveFallback(dialog, saved);
    delete dialog;
  }
  qputenv("BRINDLEBOX_PREVIEW_HELPER", helper);
}

TEST_F(PreviewDialogTest, Screenshots) {
  const QString shots = qEnvironmentVariable("BX_READER_SHOTS");
  if (shots.isEmpty()) GTEST_SKIP() << "BX_READER_SHOTS not set";
  QDir().mkpath(shots);
  QImage image(300, 200, QImage::Format_RGB32);
  image.fill(QColor(240, 200, 80));
  {
    QPainter p(&image);
    p.setPen(Qt::black);
    p.drawText(image.rect(), Qt::AlignCenter, "photo.png");
  }
  image.save(dir_.filePath("photo.png"));
  {
    QPdfWriter pdf(dir_.filePath("letter.pdf"));
    QPainter p(&pdf);
    QFont f = p.font();
    f.setPointSize(24);
    p.setFont(f);
    p.drawText(QRect(0, 0, pdf.width(), 2000), Qt::AlignCenter, "Page one");
  }
  const std::vector<std::pair<QString, QString>> cases = {
      {dir_.filePath("photo.png"), "preview-image.png"},
      {dir_.filePath("letter.pdf"), "preview-pdf.png"},
      {write("broken.png", "not a png"), "preview-failed.png"},
  };
  for (const auto& [path, name] : cases) {
    auto* dialog = open(path);
    dialog->show();
    QApplication::processEvents();
    EXPECT_TRUE(dialog->grab().save(QDir(shots).filePath(name)));
    delete dialog;
  }
}

TEST(PreviewFramesTest, MalformedFramesAreRejected) {
  QImage image(3, 2, QImage::Format_ARGB32);
  image.fill(QColor(1, 2, 3, 4));
  const QByteArray good = PreviewFrames::encode(image);
  ASSERT_TRUE(PreviewFrames::decode(good + good).has_value());
  EXPECT_EQ(PreviewFrames::decode(good + good)->size(), 2);
  EXPECT_EQ(PreviewFrames::decode(good)->front().pixelColor(2, 1), QColor(1, 2, 3, 4));

  QByteArray huge = good;
  qToBigEndian<quint32>(100000, huge.data() + 4);
  QByteArray zero = good;
  qToBigEndian<quint32>(0, zero.data() + 8);
  const std::vector<std::pair<const char*, QByteArray>> bad = {
      {"empty", {}},
      {"truncated pixels", good.left(good.size() - 1)},
      {"a trailing partial frame", good + good.left(5)},
      {"wrong magic", QByteArray("XXXX") + good.mid(4)},
      {"side over the cap", huge},
      {"zero height", zero},
  };
  for (const auto& [what, bytes] : bad) EXPECT_FALSE(PreviewFrames::decode(bytes).has_value()) << what;
}

} // namespace
