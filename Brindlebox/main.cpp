#include "DemoMode/DemoMode.h"
#include "Platform/WebSandbox.h"
#include "Reader/MailContent.h"
#include "Store/AppStore.h"
#include "Shell/AppSession.h"
#include "Shell/DisplayCheck.h"

#include <QApplication>

#include <cstdio>

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
  // The engine would end the application at the first message opened; the
  // reader shows plain text instead, and here is what to do about it.
  if (bx::WebSandbox::refusesHere())
    std::fprintf(stderr, "%s.\n%s\n", qPrintable(bx::WebSandbox::title()), qPrintable(bx::WebSandbox::advice()));
  QApplication app(argc, argv);
  bx::AppSession::configureApplication();
  // Demo and screenshot runs open the made-up vault, written before the
  // store is made.
  bx::AppStore::demoArchivePreparer() = [] { return bx::DemoMode::prepareArchive(); };
  int status = 0;
  {
    bx::AppSession session;
    session.start();
    status = QApplication::exec();
  }
  return status;
}
