#pragma once
// Opening a sheet off screen over a host, and pressing keys at it.
#include <QCoreApplication>
#include <QTest>
#include <QWidget>

namespace bx::test {

template <class Sheet, class Host>
Sheet* openSheet(Host& host) {
  auto* sheet = new Sheet(&host);
  sheet->setAttribute(Qt::WA_DontShowOnScreen);
  sheet->show();
  QCoreApplication::processEvents();
  return sheet;
}

inline void pressKey(QWidget* to, int key) {
  QTest::keyClick(to, Qt::Key(key));
  QCoreApplication::processEvents();
}

}  // namespace bx::test
