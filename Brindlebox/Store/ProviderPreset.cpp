#include "Store/ProviderPreset.h"

#include <QHashFunctions>

namespace bx {

const std::vector<ProviderPreset>& ProviderPreset::all() {
  static const std::vector<ProviderPreset> presets{
      {QStringLiteral("gmail"), QStringLiteral("Gmail"), QStringLiteral("envelope.fill"),
       QStringLiteral("imap.gmail.com"), 993,
       {QStringLiteral("Turn on 2-Step Verification for your Google Account (app passwords need it)."),
        QStringLiteral("Open Google Account › Security › App passwords (or use the button below)."),
        QStringLiteral("Type “Brindlebox” as the app name and click Create."),
        QStringLiteral("Copy the 16-letter password Google shows and paste it here. Spaces don’t matter.")},
       QUrl(QStringLiteral("https://myaccount.google.com/apppasswords")),
       QStringLiteral("Gmail labels appear as folders. “[Gmail]/All Mail” holds every message once, so backing "
                      "up just that folder avoids duplicates.")},
      {QStringLiteral("icloud"), QStringLiteral("iCloud Mail"), QStringLiteral("icloud.fill"),
       QStringLiteral("imap.mail.me.com"), 993,
       {QStringLiteral("Sign in to your Apple Account on the web (two-factor authentication must be on)."),
        QStringLiteral("Go to Sign-In and Security › App-Specific Passwords."),
        QStringLiteral("Click the + button, name it “Brindlebox” and confirm."),
        QStringLiteral("Paste the password here (four groups of four letters joined by hyphens), with your "
                       "full iCloud address as the user name.")},
       QUrl(QStringLiteral("https://account.apple.com/account/manage")), std::nullopt},
      {QStringLiteral("yahoo"), QStringLiteral("Yahoo Mail"), QStringLiteral("y.circle.fill"),
       QStringLiteral("imap.mail.yahoo.com"), 993,
       {QStringLiteral("Open Yahoo Account Info › Account Security."),
        QStringLiteral("Choose “Generate app password” (sometimes under “Other ways to sign in”)."),
        QStringLiteral("Name it “Brindlebox” and click Generate."),
        QStringLiteral("Paste the password here, with your full Yahoo address as the user name.")},
       QUrl(QStringLiteral("https://login.yahoo.com/account/security")), std::nullopt},
      {QStringLiteral("fastmail"), QStringLiteral("Fastmail"), QStringLiteral("bolt.fill"),
       QStringLiteral("imap.fastmail.com"), 993,
       {QStringLiteral("In Fastmail open Settings › Privacy & Security › Manage app passwords and access."),
        QStringLiteral("Click “New app password”, name it “Brindlebox”."),
        QStringLiteral("Give it access to “Mail (IMAP/POP/SMTP)” — read access is enough."),
        QStringLiteral("Paste the password here with your Fastmail address as the user name.")},
       QUrl(QStringLiteral("https://app.fastmail.com/settings/security/apppasswords")), std::nullopt},
      {QStringLiteral("outlook"), QStringLiteral("Outlook"), QStringLiteral("envelope.badge.fill"),
       QStringLiteral("outlook.office365.com"), 993,
       {QStringLiteral("Turn on two-step verification in your Microsoft account’s security settings."),
        QStringLiteral("Under Advanced security options › App passwords, create a new app password."),
        QStringLiteral("Paste the password here, with your full Outlook or Hotmail address as the user name.")},
       QUrl(QStringLiteral("https://account.microsoft.com/security")),
       QStringLiteral("Microsoft is phasing out password sign-in for IMAP. If your account refuses the app "
                      "password it needs modern (OAuth) sign-in, which Brindlebox doesn’t support yet.")},
      {QStringLiteral("custom"), QStringLiteral("Other IMAP"), QStringLiteral("server.rack"), QString(), 993,
       {QStringLiteral("Look up your provider’s IMAP server name in its help pages; it is often your mail "
                       "domain with “imap.” in front."),
        QStringLiteral("If your provider offers app passwords, create one for Brindlebox; otherwise use your "
                       "normal mail password."),
        QStringLiteral("Brindlebox always connects with TLS (port 993).")},
       std::nullopt, std::nullopt},
  };
  return presets;
}

const ProviderPreset& ProviderPreset::named(const QString& id) {
  for (const auto& p : all())
    if (p.id == id) return p;
  return all().back();
}

QString ProviderPreset::needs() const {
  if (id == QLatin1String("gmail")) return QStringLiteral("App password · needs 2-Step Verification");
  if (id == QLatin1String("icloud")) return QStringLiteral("App-specific password · needs two-factor");
  if (id == QLatin1String("yahoo")) return QStringLiteral("App password from Account Security");
  if (id == QLatin1String("fastmail")) return QStringLiteral("App password with IMAP access");
  if (id == QLatin1String("outlook")) return QStringLiteral("App password · two-step verification");
  return QStringLiteral("Server name + password · TLS on 993");
}

size_t qHash(const ProviderPreset& p, size_t seed) {
  QtPrivate::QHashCombine combine;
  seed = combine(seed, p.id);
  seed = combine(seed, p.name);
  seed = combine(seed, p.symbol);
  seed = combine(seed, p.host);
  seed = combine(seed, p.port);
  seed = combine(seed, p.steps);
  seed = combine(seed, p.helpURL ? p.helpURL->toString() : QString());
  seed = combine(seed, p.note ? *p.note : QString());
  return seed;
}

}  // namespace bx
