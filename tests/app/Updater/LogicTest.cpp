// The feed's decoding and the pure version, system and signature rules.

#include "UpdaterFixtures.h"

#include "Updater/UpdateFeed.h"
#include "Updater/UpdateLogic.h"

#include <gtest/gtest.h>

using namespace orrery;

TEST(UpdateFeedDecode, AcceptsAndRejectsDocuments) {
  struct Case {
    const char* json;
    bool decodes;
  } cases[] = {
      {R"({"version":"1.2","url":"https://x.example/"})", true},
      {R"({"version":"1.2","url":"u","notes":null,"minimumSystemVersion":null,"download":null})", true},
      {R"({"version":"1.2","url":"u","extra":[1,2],"download":{"url":"d","length":5,"edSignature":"s","more":1}})", true},
      {R"({"version":"1.2","url":"u","download":{"url":"d","length":1.0,"edSignature":"s"}})", true},
      {R"({"version":"1.2","url":"u","download":{"url":"d","length":"123","edSignature":"s"}})", false},
      {R"({"version":"1.2","url":"u","download":{"url":"d","length":1.5,"edSignature":"s"}})", false},
      {R"({"version":"1.2","url":"u","download":{"url":"d","length":1e30,"edSignature":"s"}})", false},
      {R"({"version":"1.2","url":"u","download":{"url":"d","length":5}})", false},
      {R"({"version":"1.2","url":"u","download":"https://x/"})", false},
      {R"({"version":"1.2","url":"u","notes":5})", false},
      {R"({"version":1.2,"url":"u"})", false},
      {R"({"version":"1.2"})", false},
      {R"({"version":null,"url":"u"})", false},
      {R"(["version","url"])", false},
      {R"({"Version":"1.2","url":"u"})", false},
      {"not json", false},
      // The version becomes a folder name, a settings key and a script argument.
      {R"({"version":"../1.2","url":"u"})", false},
      {R"({"version":"1/2","url":"u"})", false},
      {R"({"version":"..","url":"u"})", false},
      {R"({"version":".","url":"u"})", false},
      {R"({"version":"","url":"u"})", false},
      {R"({"version":"1.2 beta","url":"u"})", false},
      {R"({"version":"1.2-beta+7","url":"u"})", true},
  };
  for (const auto& c : cases) EXPECT_EQ(UpdateFeed::decode(c.json).has_value(), c.decodes) << c.json;
}

TEST(UpdateFeedDecode, NullAndMissingOptionalsAreTheSameAndRoundTrip) {
  const auto a = UpdateFeed::decode(R"({"version":"1.2","url":"u"})");
  const auto b = UpdateFeed::decode(R"({"version":"1.2","url":"u","notes":null})");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, *b);
  EXPECT_FALSE(a->notes || a->minimumSystemVersion || a->download);
  const auto full = UpdateFeed::decode(
      R"({"version":"2.0","url":"u","notes":"n","minimumSystemVersion":"2.31","download":{"url":"d","length":9,"edSignature":"s"}})");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->download->length, 9);
  EXPECT_EQ(UpdateFeed::decode(full->encode()), full);
  EXPECT_FALSE(a->encode().contains("notes"));
}

TEST(UpdateLogic, VersionOrder) {
  struct Case {
    const char* candidate;
    const char* current;
    bool newer;
  } cases[] = {
      {"1.10", "1.9", true},
      {"1.9", "1.10", false},
      {"2.0", "1.99", true},
      {"1.0.1", "1.0", true},
      {"1.0.0", "1.0", true},
      {"1.0", "1.0.0", false},
      {"1.2", "1.2", false},
      {"9.0", "10.0", false},
      {"1.0", "1.0", false},
      // Digit runs of any length compare by value, never through an integer.
      {"1.100000000000000000000000000000", "1.99999999999999999999999999999", true},
      {"1.99999999999999999999999999999", "1.100000000000000000000000000000", false},
      {"1.0b", "1.0a", true},
      {"1.0a", "1.0B", true},
      {"1.0", "", true},
      {"", "1.0", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UpdateLogic::isNewer(c.candidate, c.current), c.newer) << c.candidate << " vs " << c.current;
}

TEST(UpdateLogic, MinimumSystemVersion) {
  struct Case {
    std::optional<QString> minimum;
    SystemVersion system;
    bool supported;
  } cases[] = {
      {std::nullopt, {1, 0, 0}, true},
      {QString(), {1, 0, 0}, true},
      {QStringLiteral("14"), {14, 0, 0}, true},
      {QStringLiteral("14.1"), {14, 0, 9}, false},
      {QStringLiteral("14.0.1"), {14, 0, 1}, true},
      {QStringLiteral("13.99"), {14, 0, 0}, true},
      {QStringLiteral("abc"), {1, 0, 0}, true},
      {QStringLiteral("15.0.0.7"), {15, 0, 0}, true},
      {QStringLiteral("14..2"), {14, 1, 0}, false},
      {QStringLiteral("14..2"), {14, 2, 0}, true},
      {QStringLiteral("14.x.2"), {14, 2, 0}, true},
      {QStringLiteral("14.x.2"), {14, 1, 9}, false},
      {QStringLiteral("+14.1"), {14, 0, 0}, false},
      {QStringLiteral("-1"), {0, 0, 0}, true},
      {QStringLiteral("+-1.5"), {4, 0, 0}, false}, // "+-1" is dropped, so 5 is the major number
      {QStringLiteral("+-1.5"), {5, 0, 0}, true},
      // A piece too large for a 64-bit number does not parse and is dropped.
      {QStringLiteral("2.99999999999999999999999.40"), {2, 39, 0}, false},
      {QStringLiteral("2.99999999999999999999999.40"), {2, 40, 0}, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UpdateLogic::systemSupports(c.minimum, c.system), c.supported)
        << c.minimum.value_or(QStringLiteral("<none>")).toStdString() << " on " << c.system.major << "."
        << c.system.minor << "." << c.system.patch;
}

TEST(UpdateLogic, SignatureCheck) {
  const QByteArray data = "the whole archive, every byte";
  const QString sig = test::signatureOf(data);
  const QString key = test::publicKeyBase64();
  ASSERT_TRUE(sig.endsWith(QStringLiteral("==")));
  QByteArray changed = data;
  changed[3] = 'X';
  const QString key31 = QString::fromLatin1(QByteArray(31, 'k').toBase64());
  const QString key33 = QString::fromLatin1(QByteArray(33, 'k').toBase64());
  struct Case {
    QByteArray data;
    QString signature;
    QString key;
    bool valid;
    const char* what;
  } cases[] = {
      {data, sig, key, true, "valid"},
      {changed, sig, key, false, "one byte of the data changed"},
      {data, sig + u'\n', key, false, "signature followed by a line break"},
      {data, sig.left(44) + u'\n' + sig.mid(44), key, false, "line break inside the signature"},
      {data, sig.chopped(2), key, false, "signature without its =="},
      {data, u' ' + sig, key, false, "leading space"},
      {data, sig, key31, false, "31-byte key"},
      {data, sig, key33, false, "33-byte key"},
      {data, sig, key.chopped(1), false, "key without its ="},
      {data, QString::fromLatin1(QByteArray(63, 's').toBase64()), key, false, "63-byte signature"},
      {data, QString(), key, false, "empty signature"},
      {data, sig, QString(), false, "empty key"},
      {data, u'-' + sig.mid(1), key, false, "character outside the alphabet"},
  };
  for (const auto& c : cases) EXPECT_EQ(UpdateLogic::verify(c.data, c.signature, c.key), c.valid) << c.what;
}

TEST(UpdateLogic, SafeNames) {
  for (const char* ok : {"1.0", "2.0.0-beta+7", "app.test.vault", "a"}) EXPECT_TRUE(UpdateLogic::isSafeName(ok)) << ok;
  for (const char* bad : {"", ".", "..", "1/0", "a b", "1.0\n", "$(x)", "é"}) EXPECT_FALSE(UpdateLogic::isSafeName(bad)) << bad;
  EXPECT_TRUE(UpdateLogic::isSafeName(QString(64, u'1')));
  EXPECT_FALSE(UpdateLogic::isSafeName(QString(65, u'1')));
}
