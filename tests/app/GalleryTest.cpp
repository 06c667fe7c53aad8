#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The gallery writes one PNG per page, appearance and Reduce Motion setting;
// every one must exist and show something.
TEST(Gallery, WritesEveryPageInEveryVariantAndNoneIsBlank) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QProcess gallery;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  gallery.setProcessEnvironment(env);
  gallery.start(BX_GALLERY_PATH, {dir.path()});
  ASSERT_TRUE(gallery.waitForFinished(60000));
  ASSERT_EQ(gallery.exitStatus(), QProcess::NormalExit);
  ASSERT_EQ(gallery.exitCode(), 0) << gallery.readAllStandardError().toStdString();

  const QStringList pages = {"buttons", "text-cards", "swatches", "seals-notes", "monograms",
                             "empty",   "steprail",   "progress", "toasts",      "hover"};
  QStringList expected;
  for (const QString& page : pages)
    for (const char* scheme : {"light", "dark"})
      for (const char* motion : {"motion", "reduced"}) expected << QString("%1-%2-%3.png").arg(page, scheme, motion);
  const QStringList written = QDir(dir.path()).entryList({"*.png"}, QDir::Files, QDir::Name);
  EXPECT_EQ(written.size(), expected.size());
  for (const QString& name : expected) {
    SCOPED_TRACE(name.toStdString());
    const QImage img(dir.filePath(name));
    ASSERT_FALSE(img.isNull());
    EXPECT_GT(img.width(), 100);
    EXPECT_GT(img.height(), 60);
    QSet<QRgb> colours;
    for (int y = 0; y < img.height(); y += 2)
      for (int x = 0; x < img.width(); x += 2) colours.insert(img.pixel(x, y));
    EXPECT_GT(colours.size(), 12) << "looks blank";
  }
  // Light and dark differ.
  EXPECT_NE(QImage(dir.filePath("buttons-light-motion.png")), QImage(dir.filePath("buttons-dark-motion.png")));
}
