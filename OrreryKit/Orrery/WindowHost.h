#pragma once

#include <QString>
#include <QWidget>

#include <functional>

namespace orrery {

// The kit's windows: one per identifier, floating above normal windows, at a
// fixed content width with the height the content asks for. A closed window
// stays in the table until the next show() builds a fresh one.
namespace WindowHost {

void show(const QString& id, const QString& title, int width, const std::function<QWidget*()>& content);
void close(const QString& id);
// The window kept under the identifier (closed or not), or nullptr.
QWidget* window(const QString& id);

} // namespace WindowHost
} // namespace orrery
