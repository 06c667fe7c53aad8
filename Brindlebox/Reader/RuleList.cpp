#include "Reader/RuleList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace bx {

const QByteArray& RuleLists::blockRemoteSource() {
  static const QByteArray text =
      R"([{"trigger":{"url-filter":"^https?://"},"action":{"type":"block"}},{"trigger":{"url-filter":"^wss?://"},"action":{"type":"block"}}])";
  return text;
}

const QByteArray& RuleLists::imagesOnlySource() {
  static const QByteArray text =
      R"([{"trigger":{"url-filter":"^https?://","resource-type":["document","style-sheet","script","font","raw","svg-document","media","popup","ping"]},"action":{"type":"block"}},{"trigger":{"url-filter":"^wss?://"},"action":{"type":"block"}}])";
  return text;
}

std::optional<RuleList> RuleList::compile(const QString& identifier, const QByteArray& json) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().isEmpty()) return std::nullopt;
  RuleList list;
  list.identifier_ = identifier;
  list.source_ = json;
  for (const QJsonValue& value : doc.array()) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject trigger = value.toObject().value("trigger").toObject();
    const QJsonObject action = value.toObject().value("action").toObject();
    const QJsonValue filter = trigger.value("url-filter");
    if (!filter.isString()) return std::nullopt;
    Rule rule;
    rule.filter = QRegularExpression(filter.toString(), QRegularExpression::CaseInsensitiveOption);
    if (!rule.filter.isValid()) return std::nullopt;
    if (trigger.contains("resource-type")) {
      const QJsonValue types = trigger.value("resource-type");
      if (!types.isArray()) return std::nullopt;
      for (const QJsonValue& t : types.toArray()) {
        if (!t.isString()) return std::nullopt;
        rule.resourceTypes << t.toString();
      }
    }
    const QString type = action.value("type").toString();
    if (type == "block")
      rule.block = true;
    else if (type == "ignore-previous-rules")
      rule.block = false;
    else
      return std::nullopt;
    list.rules_.push_back(std::move(rule));
  }
  return list;
}

bool RuleList::blocks(const QUrl& url, const QString& type) const {
  const QString text = url.toString(QUrl::FullyEncoded);
  bool blocked = false;
  for (const Rule& rule : rules_) {
    if (!rule.resourceTypes.isEmpty() && !rule.resourceTypes.contains(type)) continue;
    if (!rule.filter.match(text).hasMatch()) continue;
    blocked = rule.block;
  }
  return blocked;
}

QString RuleList::resourceType(QWebEngineUrlRequestInfo::ResourceType type) {
  using I = QWebEngineUrlRequestInfo;
  switch (type) {
    case I::ResourceTypeImage: return QStringLiteral("image");
    case I::ResourceTypeMainFrame:
    case I::ResourceTypeSubFrame:
    case I::ResourceTypeNavigationPreloadMainFrame:
    case I::ResourceTypeNavigationPreloadSubFrame: return QStringLiteral("document");
    case I::ResourceTypeStylesheet: return QStringLiteral("style-sheet");
    case I::ResourceTypeScript:
    case I::ResourceTypeWorker:
    case I::ResourceTypeSharedWorker:
    case I::ResourceTypeServiceWorker: return QStringLiteral("script");
    case I::ResourceTypeFontResource: return QStringLiteral("font");
    case I::ResourceTypeMedia: return QStringLiteral("media");
    case I::ResourceTypePing:
    case I::ResourceTypeCspReport: return QStringLiteral("ping");
    default: return QStringLiteral("raw");
  }
}

} // namespace bx
