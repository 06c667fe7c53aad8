#include "AppTestSupport.h"
#include "Sheets/SheetHeader.h"
#include "Views/SmallCaps.h"
#include "Views/TextBlock.h"

#include <QVBoxLayout>

using namespace bx;

namespace {

class SheetHeaderTest : public test::PinnedLook {};

int layoutHeight(SheetHeader& h, int width) {
  QWidget host;
  auto* l = new QVBoxLayout(&host);
  l->setContentsMargins(0, 0, 0, 0);
  l->addWidget(&h);
  l->addStretch();
  host.resize(width, 600);
  host.setAttribute(Qt::WA_DontShowOnScreen);
  host.show();
  host.layout()->activate();
  int height = h.height();
  h.setParent(nullptr);
  return height;
}

} // namespace

TEST_F(SheetHeaderTest, SubtitleTakesNoLineUntilGivenAndWrapsWhenLong) {
  SheetHeader bare("Add account", "Connect a mailbox");
  EXPECT_EQ(bare.subtitleView(), nullptr);
  EXPECT_EQ(bare.eyebrowView()->displayText(), "ADD ACCOUNT");
  const int bareHeight = layoutHeight(bare, 600);

  SheetHeader shortOne("Add account", "Connect a mailbox", QString("One line."));
  const int shortHeight = layoutHeight(shortOne, 600);
  EXPECT_GT(shortHeight, bareHeight);

  QString longText;
  for (int i = 0; i < 30; ++i) longText += "A long explanation that keeps going. ";
  SheetHeader longOne("Add account", "Connect a mailbox", longText);
  const int longHeight = layoutHeight(longOne, 600);
  EXPECT_GT(longHeight, shortHeight + 20) << "a long subtitle must wrap and grow the header";
  EXPECT_EQ(longOne.subtitle(), longText);

  // Padding 20 top, 16 bottom around eyebrow, 3, title.
  const int textHeight = bare.eyebrowView()->sizeHint().height() + 3 + bare.titleView()->heightForWidth(600 - 48);
  EXPECT_EQ(bareHeight, 20 + textHeight + 16);
}

TEST_F(SheetHeaderTest, TallTrailingViewStaysAtTheTopRight) {
  auto* trailing = new QWidget;
  trailing->setFixedSize(80, 140);
  SheetHeader h("Eyebrow", "Title", std::nullopt, trailing);
  QWidget host;
  auto* l = new QVBoxLayout(&host);
  l->setContentsMargins(0, 0, 0, 0);
  l->addWidget(&h);
  l->addStretch();
  host.resize(500, 300);
  host.setAttribute(Qt::WA_DontShowOnScreen);
  host.show();
  host.layout()->activate();
  EXPECT_EQ(trailing->geometry().top(), 20);
  EXPECT_EQ(trailing->geometry().right(), 500 - 24 - 1);
  EXPECT_EQ(h.eyebrowView()->geometry().top(), 20) << "text block aligned to the top too";
  EXPECT_EQ(h.height(), 20 + 140 + 16);

  // Replacing the trailing view deletes the old one.
  QPointer<QWidget> old = trailing;
  h.setTrailing(new QWidget);
  EXPECT_TRUE(old.isNull());
  h.setParent(nullptr);
}
