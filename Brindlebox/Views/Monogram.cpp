#include "Views/Monogram.h"

#include "Theme/Shapes.h"
#include "Theme/Theme.h"

#include <QPainter>
#include <QTextBoundaryFinder>
#include <QtMath>

namespace bx {

namespace {

bool isSeparator(QChar c) {
  return c == QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char('@') || c == QLatin1Char('_');
}

QString firstGrapheme(const QString& word) {
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, word);
  const int end = finder.toNextBoundary();
  return word.left(end > 0 ? end : word.size());
}

} // namespace

QString Monogram::initials(const QString& name, const QString& email) {
  const QString source = name.isEmpty() ? email : name;
  QString out;
  int words = 0;
  int i = 0;
  while (i < source.size() && words < 2) {
    while (i < source.size() && isSeparator(source[i])) ++i;
    if (i >= source.size()) break;
    int j = i;
    while (j < source.size() && !isSeparator(source[j])) ++j;
    // toUpper is locale-independent and keeps multi-letter results (ß → SS).
    out += firstGrapheme(source.mid(i, j - i)).toUpper();
    ++words;
    i = j;
  }
  return out.isEmpty() ? QStringLiteral("?") : out;
}

Monogram::Monogram(const QString& name, const QString& email, qreal size, QWidget* parent)
    : ThemedWidget(parent), name_(name), email_(email), size_(size) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Monogram::setPerson(const QString& name, const QString& email) {
  name_ = name;
  email_ = email;
  update();
}

QSize Monogram::sizeHint() const { return QSize(qCeil(size_), qCeil(size_)); }

void Monogram::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r((width() - size_) / 2, (height() - size_) / 2, size_, size_);
  const qreal radius = size_ * 0.26;
  p.fillPath(Shapes::roundedRect(r, radius), Theme::hover.resolved());
  Shapes::strokeInside(p, r, radius, Theme::rule.resolved(), 1);
  p.setFont(Theme::Font::system(size_ * 0.36, QFont::DemiBold, true));
  p.setPen(Theme::ink2.resolved());
  p.drawText(r, Qt::AlignCenter, initials());
}

} // namespace bx
