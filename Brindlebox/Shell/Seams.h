#pragma once

#include <QString>

#include <functional>

class QDialog;
class QWidget;

namespace bx {

class AppStore;

// Where the views of later subsystems plug into the shell. Each factory
// builds its view for the main window; until a subsystem sets its factory
// (in Shell/Wiring.cpp) the shell shows a named placeholder, so the window
// works and can be looked at from the start.
//
//  - sidebar, timelineSpine, messageList: the browser's three columns (the
//    spine and the list share the content column, spine first and drawn
//    above the list);
//  - reader: the reader pane (the detail column; the toast overlay lies
//    over it);
//  - settings: the content of the Settings window;
//  - the four sheets, each a QDialog that the shell shows window-modal with
//    show() while its store flag is true (see SheetHost).
namespace Seams {

using ViewFactory = std::function<QWidget*(AppStore& store, QWidget* parent)>;
using SheetFactory = std::function<QDialog*(AppStore& store, QWidget* parent)>;

enum class Sheet { AddAccount, FreeUp, BackupActivity, Welcome };

ViewFactory& sidebar();
ViewFactory& timelineSpine();
ViewFactory& messageList();
ViewFactory& reader();
ViewFactory& settings();
SheetFactory& sheet(Sheet kind);

// A plain panel naming what will be there, for a seam not yet filled.
QWidget* placeholder(const QString& name, QWidget* parent);

} // namespace Seams
} // namespace bx
