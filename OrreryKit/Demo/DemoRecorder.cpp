#include "Demo/DemoRecorder.h"

#include <QApplication>
#include <QBackingStore>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "Demo/DemoAnchors.h"
#include "Demo/MovieWriter.h"


namespace orrery {

namespace {

void writeJSON(const QString& path, const QJsonDocument& doc) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::system_error(std::make_error_code(std::errc::io_error), "cannot write " + path.toStdString());
    const QByteArray bytes = doc.toJson(QJsonDocument::Indented);
    if (f.write(bytes) != bytes.size())
        throw std::system_error(std::make_error_code(std::errc::io_error), "cannot write " + path.toStdString());
}

QJsonArray samples(const std::vector<std::array<double, 3>>& list) {
    QJsonArray out;
    for (const auto& s : list) out.append(QJsonArray{s[0], s[1], s[2]});
    return out;
}

}  // namespace

const char* DemoRecorder::presetFor(QSize pixels) {
    return qint64(pixels.width()) * pixels.height() > 1600 * 1000 ? "ultrafast" : "superfast";
}

double DemoRecorder::scaleFor(const QRectF& region) {
    double factor = 2.0;
    for (QScreen* screen : QGuiApplication::screens()) {
        if (QRectF(screen->geometry()).intersects(region)) {
            factor = screen->devicePixelRatio();
            break;
        }
    }
    return std::min(2560.0 / std::max(region.width(), 1.0), factor);
}

QSize DemoRecorder::pixelSizeFor(const QRect& region, double scale) {
    return QSize(2 * static_cast<int>(std::round(scale * region.width() / 2.0)),
                 2 * static_cast<int>(std::round(scale * region.height() / 2.0)));
}

DemoRecorder::DemoRecorder(const QString& folder, const QRectF& region, int fps, const QList<QColor>& backdrop,
                           QObject* parent)
    : QObject(parent), folder_(folder), region_(region.toAlignedRect()), fps_(std::max(fps, 1)), backdrop_(backdrop) {
    if (region.width() <= 0 || region.height() <= 0 || region_.isEmpty())
        throw Failure::writer("the recorded region has no area");
    scale_ = scaleFor(region);
    pixelSize_ = pixelSizeFor(region_, scale_);
    if (pixelSize_.isEmpty()) throw Failure::writer("the recorded region has no area");
    if (!QDir().mkpath(folder))
        throw std::system_error(std::make_error_code(std::errc::permission_denied),
                                "cannot create " + folder.toStdString());
    QFile::remove(QDir(folder).filePath("raw.mov"));
    encoder_ = std::make_unique<MovieWriter>(QDir(folder).filePath("raw.mov").toStdString());
    encoder_->open(pixelSize_, fps_, presetFor(pixelSize_));
    cursor_ = QRectF(region_).center();

    backdropImage_ = QImage(pixelSize_, QImage::Format_ARGB32_Premultiplied);
    backdropImage_.fill(Qt::transparent);
    if (!backdrop_.isEmpty()) {
        QPainter p(&backdropImage_);
        QLinearGradient g(0, 0, 0, backdropImage_.height());
        if (backdrop_.size() == 1) {
            g.setColorAt(0, backdrop_[0]);
            g.setColorAt(1, backdrop_[0]);
        } else {
            for (int i = 0; i < backdrop_.size(); ++i) g.setColorAt(double(i) / (backdrop_.size() - 1), backdrop_[i]);
        }
        p.fillRect(backdropImage_.rect(), g);
    }
}

DemoRecorder::~DemoRecorder() {
    if (encoder_ && encoder_->writing()) encoder_->cancel();
}

double DemoRecorder::elapsed() const { return started_ ? clock_.nsecsElapsed() / 1e9 : 0.0; }

void DemoRecorder::start() {
    if (started_) return;
    encoder_->begin();
    clock_.start();
    started_ = true;
    logSample(cursorLog_);
    captureFrame();
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(std::max(1, static_cast<int>(std::lround(1000.0 / fps_))));
    connect(timer_, &QTimer::timeout, this, &DemoRecorder::captureFrame);
    timer_->start();
}

void DemoRecorder::setRegion(const QRectF& rect) {
    const QRect r = rect.toAlignedRect();
    if (rect.width() <= 0 || rect.height() <= 0 || r.isEmpty())
        throw Failure::writer("the recorded region has no area");
    region_ = r;
}

namespace {

// How a sheet looks over its window: the window dimmed, a soft shadow
// falling mostly below the sheet, and a hairline edge.
constexpr double kDim = 0.18;
constexpr int kShadowBlur = 18;
constexpr int kShadowDrop = 6;
const QColor kEdge(0, 0, 0, 56);

}  // namespace

void DemoRecorder::drawSheetSurroundings(QPainter& p, const QRectF& parent, const QRectF& sheet) const {
    p.fillRect(parent, QColor::fromRgbF(0, 0, 0, kDim));
    const QSize size = sheet.size().toSize();
    if (shadowFor_ != size) {
        // Rings of falling strength stand in for a blur; made once per size.
        const int m = kShadowBlur;
        shadow_ = QImage(size + QSize(2 * m, 2 * m), QImage::Format_ARGB32_Premultiplied);
        shadow_.fill(Qt::transparent);
        QPainter s(&shadow_);
        s.setRenderHint(QPainter::Antialiasing);
        s.setPen(Qt::NoPen);
        for (int i = m; i > 0; --i) {
            const double k = 1.0 - double(i) / (m + 1);
            s.setBrush(QColor::fromRgbF(0, 0, 0, 0.035 * k * k));
            s.drawRoundedRect(QRectF(m - i, m - i, size.width() + 2 * i, size.height() + 2 * i), i, i);
        }
        shadowFor_ = size;
    }
    p.drawImage(QPointF(sheet.x() - kShadowBlur, sheet.y() - kShadowBlur + kShadowDrop), shadow_);
}

QImage& DemoRecorder::frameBuffer(QImage& spare) const {
    // The queue, the frame being encoded, the one it is compared with, and
    // the one drawn now; a frame a caller keeps makes one more.
    constexpr std::size_t kKept = 6;
    QImage* frame = nullptr;
    for (QImage& f : frames_)
        if (f.isDetached()) {
            frame = &f;
            break;
        }
    if (!frame && frames_.size() < kKept) frame = &frames_.emplace_back(pixelSize_, QImage::Format_ARGB32_Premultiplied);
    if (!frame) frame = &(spare = QImage(pixelSize_, QImage::Format_ARGB32_Premultiplied));
    // What the encoder read of this buffer before it let go is read before
    // it is drawn over.
    std::atomic_thread_fence(std::memory_order_acquire);
    std::memcpy(frame->bits(), backdropImage_.constBits(), static_cast<std::size_t>(frame->sizeInBytes()));
    return *frame;
}

QImage DemoRecorder::composite() const {
    // Drawn in place: only a buffer nobody else holds is drawn on, so
    // painting never copies it.
    QImage spare;
    QImage& image = frameBuffer(spare);
    QPainter p(&image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const double fx = double(pixelSize_.width()) / region_.width();
    const double fy = double(pixelSize_.height()) / region_.height();
    const QList<QWidget*> windows = recordedWindows();
    auto placed = [&](QWidget* w) {
        const QPoint at = w->mapToGlobal(QPoint(0, 0)) - region_.topLeft();
        return QRectF(at.x() * fx, at.y() * fy, w->width() * fx, w->height() * fy);
    };
    for (QWidget* w : windows) {
        const QRectF target = placed(w);
        QWidget* parent = sheetParent(w);
        const bool sheet = parent && windows.contains(parent);
        if (sheet) drawSheetSurroundings(p, placed(parent), target);
        p.save();
        windowPainter()(p, w, target);
        p.restore();
        if (sheet) {
            p.setPen(QPen(kEdge, 1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(target.adjusted(0, 0, -1, -1));
        }
    }
    p.end();
    return image;
}

DemoRecorder::WindowPainter& DemoRecorder::windowPainter() {
    static WindowPainter painter = &DemoRecorder::paintScreenPixels;
    return painter;
}

namespace {

// The raster backing store's image of the window, when it holds all of it.
const QImage* backingImage(QWidget* window, QSize size) {
    QBackingStore* store = window->backingStore();
    if (!store) return nullptr;
    const auto* image = dynamic_cast<const QImage*>(store->paintDevice());
    if (image && !image->isNull() && image->width() >= size.width() && image->height() >= size.height()) return image;
    return nullptr;
}

QSize physicalSize(QWidget* window) { return (QSizeF(window->size()) * window->devicePixelRatioF()).toSize(); }

}  // namespace

void DemoRecorder::paintScreenPixels(QPainter& p, QWidget* window, const QRectF& target) {
    const QSize size = physicalSize(window);
    if (const QImage* image = backingImage(window, size)) {
        p.drawImage(target, *image, QRectF(QPointF(0, 0), QSizeF(size)));
        return;
    }
    const QImage grabbed = window->grab().toImage();
    p.drawImage(target, grabbed, QRectF(grabbed.rect()));
}

QImage DemoRecorder::screenPixels(QWidget* window) {
    const qreal dpr = window->devicePixelRatioF();
    const QSize size = physicalSize(window);
    if (const QImage* image = backingImage(window, size)) {
        QImage copy = image->copy(QRect(QPoint(0, 0), size));
        copy.setDevicePixelRatio(dpr);
        return copy;
    }
    return window->grab().toImage();
}

QWidget* DemoRecorder::sheetParent(QWidget* w) {
    if (!w->isWindow() || w->windowModality() != Qt::WindowModal || !w->parentWidget()) return nullptr;
    return w->parentWidget()->window();
}

QList<QWidget*> DemoRecorder::recordedWindows() {
    // Bottom to top: plain windows, then sheets and dialogs above their
    // window, then the kit's floating windows.
    QList<QWidget*> plain, dialogs, floating;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || w->isMinimized() || w->windowType() == Qt::Desktop ||
            w->windowType() == Qt::ToolTip || w->windowType() == Qt::Popup)
            continue;
        if (w->windowFlags() & Qt::WindowStaysOnTopHint)
            floating << w;
        else if (w->parentWidget() || w->windowType() == Qt::Dialog || w->windowType() == Qt::Sheet)
            dialogs << w;
        else
            plain << w;
    }
    return plain + dialogs + floating;
}

void DemoRecorder::captureFrame() {
    if (!encoder_ || !encoder_->writing()) return;
    const double now = elapsed();
    if (now - lastFrameTime_ < 0.5 / fps_) return;
    const QList<QWidget*> windows = recordedWindows();
    if (windows.isEmpty()) {
        lastTickTime_ = -1;
        return;
    }
    // Ticks that passed while the GUI thread was busy elsewhere come as one
    // late tick; the frames they stood for are missing from the movie.
    if (lastTickTime_ >= 0) droppedFrames_ += std::max(0L, std::lround((now - lastTickTime_) * fps_) - 1);
    lastTickTime_ = now;
    QImage frame = composite();
    if (frame.isNull()) {
        ++failedCaptures_;
        return;
    }
    if (!encoder_->push(std::move(frame), std::llround(now * 600))) {
        ++droppedFrames_;
        return;
    }
    lastFrameTime_ = now;
    ++framesWritten_;
}

void DemoRecorder::logSample(std::vector<std::array<double, 3>>& into) {
    into.push_back({elapsed(), (cursor_.x() - region_.x()) / region_.width(),
                    (cursor_.y() - region_.y()) / region_.height()});
}

void DemoRecorder::recordClick() { logSample(clicks_); }

Task<void> DemoRecorder::wait(double seconds) {
    co_await pause(static_cast<int>(std::lround(seconds * 1000)), this);
}

void DemoRecorder::closeCaption() {
    if (!openCaption_) return;
    const double end = elapsed();
    if (end - openCaption_->first > 0.2) captions_.push_back({openCaption_->first, end, openCaption_->second});
    openCaption_.reset();
}

void DemoRecorder::caption(const QString& text) {
    closeCaption();
    openCaption_ = std::make_pair(elapsed(), text);
}

void DemoRecorder::clearCaption() { closeCaption(); }

Task<void> DemoRecorder::move(QPointF to, double duration) {
    const QPointF from = cursor_;
    const int steps = std::max(static_cast<int>(duration * fps_), 1);
    const double stepTime = duration / steps;
    for (int i = 1; i <= steps; ++i) {
        const double t = double(i) / steps;
        const double eased = t < 0.5 ? 4 * t * t * t : 1 - std::pow(2 - 2 * t, 3) / 2;
        cursor_ = i == steps ? to : from + (to - from) * eased;
        logSample(cursorLog_);
        co_await pause(static_cast<int>(std::lround(stepTime * 1000)), this);
    }
}

Task<void> DemoRecorder::moveToAnchor(const QString& id, double duration) {
    const auto frame = DemoAnchors::shared().frame(id);
    if (!frame) {
        std::printf("demo: no anchor %s\n", id.toUtf8().constData());
        std::fflush(stdout);
        co_return;
    }
    auto t = move(QRectF(*frame).center(), duration);
    co_await t;
}

Task<void> DemoRecorder::click(const QString& anchor, double duration) {
    auto t = moveToAnchor(anchor, duration);
    co_await t;
    co_await pause(120, this);
    recordClick();
    co_await pause(180, this);
}

Task<void> DemoRecorder::clickAt(QPointF point, double duration) {
    auto t = move(point, duration);
    co_await t;
    co_await pause(120, this);
    recordClick();
    co_await pause(180, this);
}

Task<void> DemoRecorder::type(const QString& text, std::function<void(const QString&)> into, double perCharacter) {
    QString typed;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int from = 0;
    while (finder.toNextBoundary() != -1) {
        const QString ch = text.mid(from, finder.position() - from);
        from = finder.position();
        typed += ch;
        into(typed);
        const double sleep = ch == QLatin1String(" ") ? perCharacter * 1.6 : perCharacter;
        co_await pause(static_cast<int>(std::lround(sleep * 1000)), this);
    }
}

Task<void> DemoRecorder::finish(const QString& name) {
    closeCaption();
    if (timer_) timer_->stop();
    captureFrame();
    const double duration = elapsed();
    if (framesWritten_ < 1) {
        encoder_->cancel();
        throw Failure::writer(QStringLiteral("No frames were captured (%1 failed). Is the window on screen inside "
                                             "the region?")
                                  .arg(failedCaptures_));
    }
    const QString error = encoder_->finish();
    if (!error.isEmpty()) throw Failure::writer(error);

    const QDir dir(folder_);
    writeJSON(dir.filePath("events.json"),
              QJsonDocument(QJsonObject{{"version", 1},
                                        {"duration", duration},
                                        {"cursor", samples(cursorLog_)},
                                        {"clicks", samples(clicks_)}}));
    QJsonArray caps;
    for (const auto& c : captions_) caps.append(QJsonObject{{"end", c.end}, {"start", c.start}, {"text", c.text}});
    writeJSON(dir.filePath("captions.json"), QJsonDocument(caps));
    writeJSON(dir.filePath("project.json"),
              QJsonDocument(QJsonObject{
                  {"name", name},
                  {"created", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                  {"duration", duration},
                  {"width", pixelSize_.width()},
                  {"height", pixelSize_.height()},
                  {"hasCamera", false},
                  {"cameraOffset", 0},
                  {"hasAudio", false},
                  {"settings", QJsonObject{}},
              }));
    co_return;
}

}  // namespace orrery
