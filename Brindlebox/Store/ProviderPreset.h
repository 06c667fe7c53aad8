#pragma once
// The mail providers the add-account flow offers, with their server and the
// steps for making an app-specific password. The last preset ("custom") is
// the fallback for any unknown id.

#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <vector>

namespace bx {

struct ProviderPreset {
  QString id;
  QString name;
  QString symbol;
  QString host;
  std::uint16_t port = 993;
  QStringList steps;
  std::optional<QUrl> helpURL;
  std::optional<QString> note;

  friend bool operator==(const ProviderPreset&, const ProviderPreset&) = default;

  static const std::vector<ProviderPreset>& all();
  // The preset with exactly this id, else the custom one.
  static const ProviderPreset& named(const QString& id);
  // The requirement line of the provider card.
  QString needs() const;
};

size_t qHash(const ProviderPreset& preset, size_t seed = 0);

}  // namespace bx
