#pragma once

#include <QString>

namespace bx {

// What a message row's menu does with its file.
struct FileActions {
  // Shows the file selected in the desktop's file manager (the FileManager1
  // D-Bus interface), else opens its folder.
  static void reveal(const QString& file);
  // Opens the file with the desktop's default application for it.
  static void open(const QString& file);
  // Puts the absolute path on the clipboard, replacing what was there.
  static void copyPath(const QString& file);
};

} // namespace bx
