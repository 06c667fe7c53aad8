#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>
#include <optional>
#include <vector>

namespace bx {

// A mail provider the add-account flow offers: its server, icon, the steps
// to make an app password, the page for that and a warning where needed.
struct ProviderPreset {
  QString id;
  QString name;
  QString symbol;
  QString host;  // empty for "custom"
  quint16 port = 993;
  QStringList steps;
  std::optional<QUrl> helpURL;
  std::optional<QString> note;

  // The one-line requirement on the provider card.
  QString needs() const;

  static const std::vector<ProviderPreset>& all();
  // The preset with exactly this id, else the last ("custom").
  static const ProviderPreset& named(const QString& id);

  friend bool operator==(const ProviderPreset&, const ProviderPreset&) = default;
};

} // namespace bx
