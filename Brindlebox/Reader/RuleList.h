#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEngineUrlRequestInfo>

#include <memory>
#include <optional>
#include <vector>

namespace bx {

// A remote-content rule list: the JSON text it was made from and its rules,
// interpreted the way the text reads. Each rule has a case-insensitive
// "url-filter" regular expression, an optional list of resource types and a
// "block" action; a load is blocked when any rule matches it.
class RuleList {
public:
  struct Rule {
    QRegularExpression filter;
    QStringList resourceTypes;  // empty: every type
    bool block = true;
  };

  // Parses a rule-list text; nullopt when it is not a list of rules with a
  // valid "url-filter" and a known action type.
  static std::optional<RuleList> compile(const QString& identifier, const QByteArray& json);

  QString identifier() const { return identifier_; }
  QByteArray source() const { return source_; }
  const std::vector<Rule>& rules() const { return rules_; }

  // Whether a load of `url` as a resource of `type` ("image", "document" ...)
  // is blocked.
  bool blocks(const QUrl& url, const QString& type) const;

  // The rule-list name of a web engine resource type. Only images are
  // "image"; frames are "document"; anything the engine cannot tell apart
  // is "raw", so a list that blocks everything but images blocks it.
  static QString resourceType(QWebEngineUrlRequestInfo::ResourceType type);

private:
  QString identifier_;
  QByteArray source_;
  std::vector<Rule> rules_;
};

// The two fixed lists.
struct RuleLists {
  static constexpr const char* blockRemoteIdentifier = "brindlebox-block-remote";
  static constexpr const char* imagesOnlyIdentifier = "brindlebox-images-only-2";
  static const QByteArray& blockRemoteSource();
  static const QByteArray& imagesOnlySource();
};

using RuleListPtr = std::shared_ptr<const RuleList>;

} // namespace bx
