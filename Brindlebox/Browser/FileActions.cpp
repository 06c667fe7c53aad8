#include "Browser/FileActions.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

namespace bx {

void FileActions::reveal(const QString& file) {
  const QUrl url = QUrl::fromLocalFile(file);
  QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                     QStringLiteral("/org/freedesktop/FileManager1"),
                                                     QStringLiteral("org.freedesktop.FileManager1"),
                                                     QStringLiteral("ShowItems"));
  call << QStringList{url.toString()} << QString();
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
  if (reply.type() == QDBusMessage::ReplyMessage) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
}

void FileActions::open(const QString& file) { QDesktopServices::openUrl(QUrl::fromLocalFile(file)); }

void FileActions::copyPath(const QString& file) {
  if (QClipboard* c = QGuiApplication::clipboard()) c->setText(file, QClipboard::Clipboard);
}

} // namespace bx
