#include "Store/ProviderPreset.h"

namespace bx {

const std::vector<ProviderPreset>& ProviderPreset::all() {
  static const std::vector<ProviderPreset> presets{
      {"custom", "Other IMAP", "server.rack", "", 993, {}, std::nullopt, std::nullopt}};
  return presets;
}

const ProviderPreset& ProviderPreset::named(const QString& id) {
  for (const auto& p : all())
    if (p.id == id) return p;
  return all().back();
}

QString ProviderPreset::needs() const { return QStringLiteral("Server name + password · TLS on 993"); }

size_t qHash(const ProviderPreset& preset, size_t seed) { return ::qHash(preset.id, seed); }

}  // namespace bx
