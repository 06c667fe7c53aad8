#include "Orrery/Orrery.h"
#include "Reader/MailContent.h"
#include "Shell/AppIcon.h"
#include "Shell/AppPalette.h"
#include "Shell/AppStoreShell.h"
#include "Shell/DisplayCheck.h"
#include "Shell/Harness.h"
#include "Shell/MainWindow.h"
#include "Shell/Quitting.h"
#include "Shell/Wiring.h"
#include "Store/AppStore.h"

#include <QApplication>
#include <QColor>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
  // Without a display Qt aborts with a message about platform plugins; say
  // what is missing and how to run anyway instead.
  if (const auto line = bx::missingDisplayMessage(argc, argv)) {
    std::fprintf(stderr, "%s\n", line->c_str());
    return 2;
  }
  // The reader's web views share their GL contexts with the window.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The reader's document scheme and engine switches exist before the
  // application does.
  bx::MailContent::registerScheme();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brindlebox"));
  QApplication::setOrganizationName(QStringLiteral("Brindlebox"));
  QApplication::setDesktopFileName(QStringLiteral("app.brindlebox.Brindlebox"));
  QApplication::setWindowIcon(bx::appIcon());
  bx::AppPalette::install();

  auto store = std::make_unique<bx::AppStore>();
  bx::AppStore::setShared(store.get());
  int status = 0;
  {
    bx::AppStoreShell shell(*store);
    bx::Wiring::install();
    bx::MainWindow window(shell);
    shell.setWindow(&window);
    window.show();

    orrery::Orrery::start({QColor(30, 60, 114), QColor(42, 157, 143)});
    bx::Launch::Targets targets{[&shell] { shell.reloadArchive(); }, [&shell] { shell.startScheduler(); },
                                &window};
    auto launch = bx::Launch::run(targets);

    status = QApplication::exec();
    // Work is told to stop while the store and the window still exist; the
    // store joins what it runs when it goes.
    shell.shutDown();
  }
  bx::AppStore::setShared(nullptr);
  store.reset();
  return status;
}
