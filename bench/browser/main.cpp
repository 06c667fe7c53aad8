// Plain timing driver for the browser columns; prints one line per figure.

#include "Browser/MessageDelegate.h"
#include "Browser/MonthListModel.h"
#include "Browser/TimelineSpine.h"
#include "Store/AppStore.h"
#include "Theme/Motion.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QScrollBar>
#include <QTextStream>
#include <algorithm>
#include <vector>

using namespace bx;

namespace {

double ms(QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

struct Stats {
  double median, p95, max;
};
Stats stats(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[size_t(v.size() * 0.95)], v.back()};
}

void print(const char* what, const Stats& s) {
  QTextStream(stdout) << what << ": median " << s.median << " ms, p95 " << s.p95 << " ms, max " << s.max << " ms\n";
}

} // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Motion::setInstant(true);
  const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;

  // Records newest first over ten years.
  std::vector<MessageRecord> records(static_cast<size_t>(n));
  const long long newest = 1'730'000'000;
  for (int i = 0; i < n; ++i) {
    MessageRecord& r = records[size_t(i)];
    r.path = "Work/INBOX/" + std::to_string(i) + ".eml";
    r.subject = "Subject line number " + std::to_string(i);
    r.fromName = i % 2 ? "Ada Lovelace" : "Grace Hopper";
    r.fromEmail = "someone@example.org";
    r.snippet = "A few words of the body to fill the third line of the row";
    r.attachments = i % 7 == 0;
    r.date = dateFromSeconds(newest - (long long)i * (10LL * 365 * 86400 / n));
  }
  std::vector<const MessageRecord*> pointers;
  for (const auto& r : records) pointers.push_back(&r);

  QListView view;
  MonthListModel model;
  MessageDelegate delegate;
  view.setModel(&model);
  view.setItemDelegate(&delegate);
  view.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  view.setUniformItemSizes(false);
  view.resize(450, 760);
  view.show();
  // Frames are drawn into an image, so the figures include the painting
  // whether or not the platform shows the window.
  QImage frame(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
  auto paint = [&] { view.viewport()->render(&frame); };

  // A regroup reaching the model and the list laid out again.
  std::vector<double> regroup, reset;
  std::vector<MonthGroup> groups;
  for (int run = 0; run < 15; ++run) {
    QElapsedTimer t;
    t.start();
    groups = AppStore::group(pointers);
    regroup.push_back(ms(t));
    // The same rows again would keep the layout: empty the list first so
    // that each round lays it out anew.
    model.setGroups({}, -1);
    view.doItemsLayout();
    t.restart();
    model.setGroups(groups, run);
    view.doItemsLayout();
    paint();
    reset.push_back(ms(t));
  }
  QTextStream(stdout) << n << " messages in " << groups.size() << " months\n";
  print("group records by month", stats(regroup));
  print("model reset + list layout + first paint", stats(reset));

  // Scrolling: one frame per step of a third of the viewport.
  std::vector<double> frames;
  QScrollBar* bar = view.verticalScrollBar();
  for (int step = 0; step < 300; ++step) {
    QElapsedTimer t;
    t.start();
    bar->setValue((step * 997 * view.viewport()->height() / 3) % std::max(1, bar->maximum()));
    paint();
    frames.push_back(ms(t));
  }
  print("scroll frame (jump + paint)", stats(frames));

  // The spine.
  for (const auto& [label, months] : {std::pair{"spine 480 months", 480}, std::pair{"spine years 1-9999", 9999 * 12}}) {
    TimelineSpine spine;
    spine.resize(TimelineSpine::spineWidth, 740);
    std::vector<std::pair<int, int>> counts;
    const int top = 9999 * 12 + 11;
    for (int m = 0; m < months; ++m) counts.emplace_back(top - m, (m * 37) % 50);
    spine.setMonths(counts);
    spine.setCurrentMonth(top - months / 2);
    QImage img(spine.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> paints;
    for (int run = 0; run < 50; ++run) {
      QElapsedTimer t;
      t.start();
      spine.render(&img);
      paints.push_back(ms(t));
    }
    print(label, stats(paints));
  }
  return 0;
}
