#pragma once

#include <QString>

namespace bx {

// Shows a file selected in the desktop's file manager (the FileManager1
// D-Bus service), else opens the folder that holds it.
struct RevealFile {
  static void reveal(const QString& path);
};

} // namespace bx
