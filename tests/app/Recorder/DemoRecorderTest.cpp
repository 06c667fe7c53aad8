// The recorder end to end: real windows, a real movie checked with ffprobe,
// and the JSON beside it.
#include "Demo/DemoRecorder.h"
#include "Demo/DemoAnchors.h"
#include "Demo/MovieWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using orrery::DemoRecorder;
using orrery::Task;

namespace {

template <typename F>
void spinUntil(F done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

template <typename T>
void run(Task<T>& task) {
    spinUntil([&] { return task.done(); });
    ASSERT_TRUE(task.done());
}

void spinFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QJsonObject probe(const QString& file) {
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                        "stream=codec_name,width,height,time_base,nb_read_frames:format=format_name,duration",
                        "-of", "json", file});
    p.waitForFinished(60000);
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

// The colour at the centre of every frame of a movie, decoded by ffmpeg
// (frame for frame: none repeated to fill a constant rate).
std::vector<QColor> frameCentres(const QString& file, QSize size) {
    QProcess p;
    p.start("ffmpeg", {"-v", "error", "-i", file, "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    p.waitForFinished(60000);
    const QByteArray raw = p.readAllStandardOutput();
    const qsizetype frameBytes = qsizetype(size.width()) * size.height() * 3;
    std::vector<QColor> out;
    for (qsizetype at = 0; at + frameBytes <= raw.size(); at += frameBytes) {
        const qsizetype centre = at + (qsizetype(size.height() / 2) * size.width() + size.width() / 2) * 3;
        out.emplace_back(quint8(raw[centre]), quint8(raw[centre + 1]), quint8(raw[centre + 2]));
    }
    return out;
}

// Colours as far apart as the test's colours are: the encoder's rounding
// stays well within this.
bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
           std::abs(a.blue() - b.blue()) < 40;
}

std::string names(const std::vector<QColor>& colours) {
    std::string out;
    for (const QColor& c : colours) out += c.name().toStdString() + " ";
    return out;
}

QJsonDocument readJSON(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll());
}

}  // namespace

TEST(DemoRecorder, PixelSizeIsEvenAndCapped) {
    struct Row {
        QRect region;
        double scale;
        QSize pixels;
    } rows[] = {
        {{0, 0, 1600, 1000}, 1.0, {1600, 1000}},
        {{0, 0, 1600, 1000}, 1.6, {2560, 1600}},
        {{0, 0, 801, 601}, 1.0, {802, 602}},   // halves round away from zero
        {{0, 0, 803, 599}, 1.0, {804, 600}},
        {{0, 0, 1101, 621}, 1.5, {1652, 932}},
    };
    for (const auto& r : rows) EXPECT_EQ(DemoRecorder::pixelSizeFor(r.region, r.scale), r.pixels) << r.scale;
    // Off every screen the factor is 2, capped by the 2560-pixel width.
    EXPECT_DOUBLE_EQ(DemoRecorder::scaleFor(QRectF(50000, 50000, 1600, 1000)), 1.6);
    EXPECT_DOUBLE_EQ(DemoRecorder::scaleFor(QRectF(50000, 50000, 800, 500)), 2.0);
    EXPECT_DOUBLE_EQ(DemoRecorder::scaleFor(QRectF(0, 0, 400, 300)), 1.0);  // the offscreen screen is 1x
}

TEST(DemoRecorder, RefusesARegionWithoutArea) {
    QTemporaryDir dir;
    for (QRectF r : {QRectF(0, 0, 0, 100), QRectF(0, 0, 100, 0), QRectF(0, 0, -5, 10)}) {
        try {
            DemoRecorder rec(dir.path(), r, 30, {Qt::black});
            ADD_FAILURE() << "accepted an empty region";
        } catch (const DemoRecorder::Failure& f) {
            EXPECT_EQ(f.kind, DemoRecorder::Failure::Kind::writer);
        }
    }
    DemoRecorder rec(dir.path(), QRectF(0, 0, 100, 100), 30, {Qt::black});
    EXPECT_THROW(rec.setRegion(QRectF(10, 10, 0, 50)), DemoRecorder::Failure);
    EXPECT_EQ(rec.region(), QRect(0, 0, 100, 100));
}

TEST(DemoRecorder, RecordsTheWindowsIntoAMovieWithItsJSON) {
    QTemporaryDir dir;
    QWidget window;
    window.setGeometry(40, 30, 320, 200);
    window.setStyleSheet("background: #c0392b");
    auto* button = new QPushButton("Back Up", &window);
    button->setGeometry(100, 80, 120, 40);
    orrery::demoAnchor(button, "recorderTestButton");
    window.show();
    spinFor(100);

    DemoRecorder rec(dir.path(), QRectF(40, 30, 321, 201), 30, {QColor("#1E3C72"), QColor("#2A9D8F")});
    EXPECT_EQ(rec.pixelSize(), QSize(322, 202));
    rec.start();
    rec.caption("Too short");
    rec.caption("Back up every folder");  // replaces the first at once: it is dropped
    auto click = rec.click("recorderTestButton", 0.3);
    run(click);
    auto missing = rec.click("verifyCopies", 0);  // no such anchor: the click is still logged
    run(missing);
    QStringList typed;
    auto typing = rec.type("ab 12", [&](const QString& s) { typed << s; }, 0.01);
    run(typing);
    spinFor(300);
    rec.clearCaption();
    auto done = rec.finish("test demo");
    run(done);
    ASSERT_NO_THROW(done.result());
    EXPECT_EQ(typed, QStringList({"a", "ab", "ab ", "ab 1", "ab 12"}));

    const QJsonObject info = probe(dir.filePath("raw.mov"));
    const QJsonObject stream = info["streams"].toArray().at(0).toObject();
    EXPECT_EQ(stream["codec_name"].toString(), "h264");
    EXPECT_EQ(stream["width"].toInt(), 322);
    EXPECT_EQ(stream["height"].toInt(), 202);
    EXPECT_EQ(stream["time_base"].toString(), "1/600");
    EXPECT_EQ(stream["nb_read_frames"].toString().toInt(), rec.framesWritten());
    EXPECT_GT(rec.framesWritten(), 5);
    EXPECT_TRUE(info["format"].toObject()["format_name"].toString().contains("mov"));

    const QJsonObject events = readJSON(dir.filePath("events.json")).object();
    EXPECT_EQ(events["version"].toInt(), 1);
    EXPECT_NEAR(info["format"].toObject()["duration"].toString().toDouble(), events["duration"].toDouble(), 0.2);
    // The last cursor sample is the button's centre, normalised to the region.
    const QJsonArray cursor = events["cursor"].toArray();
    const QJsonArray last = cursor.last().toArray();
    EXPECT_NEAR(last[1].toDouble(), (40 + 100 + 60 - 40) / 321.0, 0.01);
    EXPECT_NEAR(last[2].toDouble(), (30 + 80 + 20 - 30) / 201.0, 0.01);
    EXPECT_EQ(events["clicks"].toArray().size(), 2);

    const QJsonArray captions = readJSON(dir.filePath("captions.json")).array();
    ASSERT_EQ(captions.size(), 1);
    EXPECT_EQ(captions[0].toObject()["text"].toString(), "Back up every folder");
    EXPECT_GT(captions[0].toObject()["end"].toDouble(), captions[0].toObject()["start"].toDouble() + 0.2);

    const QJsonObject project = readJSON(dir.filePath("project.json")).object();
    EXPECT_EQ(project["name"].toString(), "test demo");
    EXPECT_EQ(project["width"].toInt(), 322);
    EXPECT_FALSE(project["hasCamera"].toBool());
    EXPECT_TRUE(project["created"].toString().endsWith("Z"));
}

TEST(DemoRecorder, CursorSamplesAreNormalisedToTheRegionFromTheTop) {
    QTemporaryDir dir;
    DemoRecorder rec(dir.path(), QRectF(100, 50, 200, 100), 30, {Qt::black});
    auto a = rec.move(QPointF(100, 50), 0);
    run(a);
    auto b = rec.move(QPointF(300, 150), 0);
    run(b);
    auto c = rec.move(QPointF(400, 0), 0);  // outside: not clamped
    run(c);
    const auto& log = rec.cursorLog();
    ASSERT_EQ(log.size(), 3u);  // a move of no duration is one step
    EXPECT_EQ(log[0][1], 0.0);
    EXPECT_EQ(log[0][2], 0.0);
    EXPECT_EQ(log[1][1], 1.0);
    EXPECT_EQ(log[1][2], 1.0);
    EXPECT_EQ(log[2][1], 1.5);
    EXPECT_EQ(log[2][2], -0.5);
}

TEST(DemoRecorder, NoVisibleWindowMeansNoFramesAndNoMovie) {
    QTemporaryDir dir;
    DemoRecorder rec(dir.path(), QRectF(0, 0, 200, 100), 30, {Qt::black});
    rec.start();
    spinFor(150);
    auto done = rec.finish("empty");
    run(done);
    try {
        done.result();
        ADD_FAILURE() << "finish succeeded without frames";
    } catch (const DemoRecorder::Failure& f) {
        EXPECT_EQ(f.message.toStdString(),
                  "No frames were captured (0 failed). Is the window on screen inside the region?");
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("raw.mov")));
    EXPECT_FALSE(QFile::exists(dir.filePath("events.json")));
}

TEST(DemoRecorder, TicksCloserThanHalfAnIntervalWriteOneFrame) {
    QTemporaryDir dir;
    QWidget window;
    window.setGeometry(0, 0, 100, 100);
    window.show();
    spinFor(50);
    DemoRecorder rec(dir.path(), QRectF(0, 0, 100, 100), 2, {Qt::black});  // half interval: 0.25 s
    rec.start();
    const int first = rec.framesWritten();
    rec.captureFrame();
    rec.captureFrame();
    EXPECT_EQ(rec.framesWritten(), first);
    auto done = rec.finish("pacing");
    run(done);
}

// Ticks that pass while the GUI thread is busy arrive as one late tick; the
// frames they stood for are missing from the movie and count as dropped.
TEST(DemoRecorder, TicksMissedWhileBusyCountAsDropped) {
    QTemporaryDir dir;
    QWidget window;
    window.setGeometry(0, 0, 100, 100);
    window.show();
    spinFor(50);
    DemoRecorder rec(dir.path(), QRectF(0, 0, 100, 100), 2, {Qt::black});  // a tick every 0.5 s
    rec.start();
    QThread::msleep(500);
    rec.captureFrame();  // on time
    EXPECT_EQ(rec.droppedFrames(), 0);
    const int written = rec.framesWritten();
    QThread::msleep(1600);  // the ticks at 1.0 s and 1.5 s pass unseen
    rec.captureFrame();
    EXPECT_EQ(rec.framesWritten(), written + 1);
    EXPECT_GE(rec.droppedFrames(), 2);
    EXPECT_LE(rec.droppedFrames(), 3);  // a slow machine may sleep a little longer
    auto done = rec.finish("busy");
    run(done);
}

// A sheet is drawn as it looks on screen: the window it belongs to dimmed,
// an edge around the sheet and a shadow below it, where a plain window
// beside it gets none of these.
TEST(DemoRecorder, ASheetDimsItsWindowAndHasAnEdgeAndAShadow) {
    QTemporaryDir dir;
    QWidget window;
    window.setGeometry(0, 0, 400, 300);
    window.setStyleSheet("background: #ffffff");
    QWidget sheet(&window, Qt::Dialog);
    sheet.setWindowModality(Qt::WindowModal);
    sheet.setStyleSheet("background: #ffffff");
    window.show();
    sheet.setGeometry(100, 60, 200, 150);
    sheet.show();
    spinFor(100);
    DemoRecorder rec(dir.path(), QRectF(0, 0, 400, 300), 30, {Qt::black});
    EXPECT_EQ(DemoRecorder::sheetParent(&sheet), &window);
    EXPECT_EQ(DemoRecorder::sheetParent(&window), nullptr);
    const QImage frame = rec.composite();
    auto grey = [&](int x, int y) { return qGray(frame.pixel(x, y)); };
    EXPECT_EQ(grey(200, 130), 255);                  // the sheet itself
    EXPECT_LT(grey(20, 20), 230);                    // its window, dimmed
    EXPECT_LT(grey(100, 130), grey(102, 130));       // the edge
    EXPECT_LT(grey(200, 60 + 150 + 4), grey(20, 20));  // the shadow below

    sheet.hide();
    spinFor(50);
    EXPECT_EQ(qGray(rec.composite().pixel(20, 20)), 255);
}

// A frame equal to the one before is not converted again; every frame, the
// repeated ones and the first changed one after them, still shows what was
// pushed.
TEST(MovieWriter, EveryFrameShowsWhatWasPushed) {
    QTemporaryDir dir;
    const QString file = dir.filePath("frames.mov");
    const QSize size(64, 48);
    orrery::MovieWriter writer(file.toStdString());
    writer.open(size, 30, "superfast");
    ASSERT_TRUE(writer.begin());
    const QColor red(220, 30, 30), blue(30, 30, 220), green(30, 200, 30);
    const std::vector<QColor> pushed = {red, red, red, blue, blue, green, red, red, blue};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (std::size_t i = 0; i < pushed.size(); ++i) {
        // The same image again where the colour repeats, a fresh one where
        // it changes.
        if (i == 0 || pushed[i] != pushed[i - 1]) {
            image = QImage(size, QImage::Format_ARGB32_Premultiplied);
            image.fill(pushed[i]);
        }
        QElapsedTimer t;
        t.start();
        while (!writer.push(image, std::int64_t(i) * 20) && t.elapsed() < 10000) QThread::msleep(1);
    }
    ASSERT_EQ(writer.finish(), QString());

    const std::vector<QColor> decoded = frameCentres(file, size);
    ASSERT_EQ(decoded.size(), pushed.size()) << names(decoded);
    for (std::size_t i = 0; i < pushed.size(); ++i)
        EXPECT_TRUE(near(decoded[i], pushed[i])) << "frame " << i << ": " << names(decoded);
}

// The recorder draws each frame into buffers it reuses: a frame still
// queued for the encoder is never drawn over, so each frame of the movie
// is the window as it was at that frame's tick.
TEST(DemoRecorder, EachFrameIsTheWindowAtItsTick) {
    QTemporaryDir dir;
    QWidget window;
    window.setGeometry(0, 0, 200, 120);
    auto paint = [&](const QColor& c) {
        window.setStyleSheet("background: " + c.name());
        window.repaint();
    };
    const QColor red(220, 30, 30), blue(30, 30, 220), green(30, 200, 30);
    paint(red);
    window.show();
    spinFor(100);
    const std::vector<QColor> shown = {red, blue, blue, blue, green, red, red, green, blue, blue};
    DemoRecorder rec(dir.path(), QRectF(0, 0, 200, 120), 30, {Qt::black});
    rec.start();  // its first frame: red
    std::vector<QColor> expected = {red};
    for (const QColor& c : shown) {
        paint(c);
        // Ticks without the event loop: only these frames are taken, far
        // enough apart that the encoder keeps up with them.
        QThread::msleep(60);
        rec.captureFrame();
        expected.push_back(c);
    }
    QThread::msleep(60);
    auto done = rec.finish("ticks");
    run(done);
    expected.push_back(shown.back());  // the closing frame
    ASSERT_EQ(rec.framesWritten(), int(expected.size())) << rec.droppedFrames() << " dropped";
    const std::vector<QColor> decoded = frameCentres(dir.filePath("raw.mov"), rec.pixelSize());
    ASSERT_EQ(decoded.size(), expected.size()) << names(decoded);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(near(decoded[i], expected[i])) << "frame " << i << ": " << names(decoded);
}
