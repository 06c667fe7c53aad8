#include "Demo/DemoRecorder.h"

#include <QApplication>
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
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "Demo/DemoAnchors.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace orrery {

namespace {

QString avError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

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

// The movie writer: an H.264 encoder and the QuickTime muxer, fed from a
// queue of at most two frames by its own thread.
struct DemoRecorder::Encoder {
    static constexpr std::size_t queueLimit = 2;

    std::string path;
    QSize size;
    AVFormatContext* fmt = nullptr;
    AVCodecContext* enc = nullptr;
    AVStream* stream = nullptr;
    SwsContext* sws = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    bool writing = false;

    std::thread worker;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::pair<QImage, std::int64_t>> queue;
    bool closing = false;
    QString error;  // first encoding failure

    ~Encoder() { release(); }

    void open(QSize pixels, int fps) {
        size = pixels;
        // The encoder's per-run statistics would drown the demo's own lines.
        av_log_set_level(AV_LOG_ERROR);
        int rc = avformat_alloc_output_context2(&fmt, nullptr, "mov", path.c_str());
        if (rc < 0 || !fmt) throw Failure::writer("can't create the movie: " + avError(rc));
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        if (!codec) throw Failure::writer("no H.264 encoder");
        stream = avformat_new_stream(fmt, nullptr);
        enc = avcodec_alloc_context3(codec);
        if (!stream || !enc) throw Failure::writer("can't add input");
        enc->width = pixels.width();
        enc->height = pixels.height();
        enc->pix_fmt = AV_PIX_FMT_YUV420P;
        enc->time_base = AVRational{1, 600};
        enc->framerate = AVRational{fps, 1};
        enc->bit_rate = static_cast<std::int64_t>(pixels.width()) * pixels.height() * 8;
        enc->gop_size = std::max(fps, 1);
        enc->max_b_frames = 0;
        if (fmt->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        av_opt_set(enc->priv_data, "preset", presetFor(pixels), 0);
        rc = avcodec_open2(enc, codec, nullptr);
        if (rc < 0) throw Failure::writer("can't add input: " + avError(rc));
        rc = avcodec_parameters_from_context(stream->codecpar, enc);
        if (rc < 0) throw Failure::writer("can't add input: " + avError(rc));
        stream->time_base = AVRational{1, 600};
        rc = avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) throw Failure::writer("can't create the movie: " + avError(rc));
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = pixels.width();
        frame->height = pixels.height();
        if (!frame || !packet || av_frame_get_buffer(frame, 0) < 0) throw Failure::writer("out of memory");
        sws = sws_getContext(pixels.width(), pixels.height(), AV_PIX_FMT_BGRA, pixels.width(), pixels.height(),
                             AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws) throw Failure::writer("can't convert frames");
    }

    // Writes the header and starts the worker; false leaves the movie unwritten.
    bool begin() {
        AVDictionary* options = nullptr;
        // Without this the muxer raises the track's time scale on its own.
        av_dict_set(&options, "video_track_timescale", "600", 0);
        const int rc = avformat_write_header(fmt, &options);
        av_dict_free(&options);
        if (rc < 0) return false;
        writing = true;
        worker = std::thread([this] { run(); });
        return true;
    }

    bool push(QImage image, std::int64_t pts) {
        std::lock_guard lock(mutex);
        if (queue.size() >= queueLimit) return false;
        queue.emplace_back(std::move(image), pts);
        cv.notify_one();
        return true;
    }

    void run() {
        for (;;) {
            std::pair<QImage, std::int64_t> item;
            {
                std::unique_lock lock(mutex);
                cv.wait(lock, [&] { return closing || !queue.empty(); });
                if (queue.empty()) return;
                item = std::move(queue.front());
                queue.pop_front();
            }
            encode(&item.first, item.second);
        }
    }

    void encode(const QImage* image, std::int64_t pts) {
        int rc = 0;
        if (image) {
            rc = av_frame_make_writable(frame);
            if (rc >= 0) {
                const uint8_t* src[1] = {image->constBits()};
                const int stride[1] = {static_cast<int>(image->bytesPerLine())};
                sws_scale(sws, src, stride, 0, size.height(), frame->data, frame->linesize);
                frame->pts = pts;
                rc = avcodec_send_frame(enc, frame);
            }
        } else {
            rc = avcodec_send_frame(enc, nullptr);
        }
        while (rc >= 0) {
            rc = avcodec_receive_packet(enc, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            if (rc < 0) break;
            av_packet_rescale_ts(packet, enc->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(fmt, packet);
        }
        if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) {
            std::lock_guard lock(mutex);
            if (error.isEmpty()) error = avError(rc);
        }
    }

    void stopWorker() {
        {
            std::lock_guard lock(mutex);
            closing = true;
        }
        cv.notify_one();
        if (worker.joinable()) worker.join();
    }

    // Drains the encoder and closes the movie; the first error, else empty.
    QString finish() {
        stopWorker();
        encode(nullptr, 0);
        const int rc = av_write_trailer(fmt);
        if (rc < 0 && error.isEmpty()) error = avError(rc);
        writing = false;
        release();
        return error;
    }

    void cancel() {
        stopWorker();
        writing = false;
        release();
        std::remove(path.c_str());
    }

    void release() {
        if (worker.joinable()) stopWorker();
        if (fmt && fmt->pb) avio_closep(&fmt->pb);
        if (fmt) avformat_free_context(fmt);
        fmt = nullptr;
        if (enc) avcodec_free_context(&enc);
        if (frame) av_frame_free(&frame);
        if (packet) av_packet_free(&packet);
        if (sws) sws_freeContext(sws);
        sws = nullptr;
    }
};

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
    encoder_ = std::make_unique<Encoder>();
    encoder_->path = QDir(folder).filePath("raw.mov").toStdString();
    encoder_->open(pixelSize_, fps_);
    cursor_ = QRectF(region_).center();
}

DemoRecorder::~DemoRecorder() {
    if (encoder_ && encoder_->writing) encoder_->cancel();
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

QImage DemoRecorder::composite() const {
    QImage image(pixelSize_, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    if (!backdrop_.isEmpty()) {
        QLinearGradient g(0, 0, 0, image.height());
        if (backdrop_.size() == 1) {
            g.setColorAt(0, backdrop_[0]);
            g.setColorAt(1, backdrop_[0]);
        } else {
            for (int i = 0; i < backdrop_.size(); ++i) g.setColorAt(double(i) / (backdrop_.size() - 1), backdrop_[i]);
        }
        p.fillRect(image.rect(), g);
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const double fx = double(pixelSize_.width()) / region_.width();
    const double fy = double(pixelSize_.height()) / region_.height();
    for (QWidget* w : recordedWindows()) {
        const QPixmap pix = grabWindow(w);
        if (pix.isNull()) continue;
        const QPoint at = w->mapToGlobal(QPoint(0, 0)) - region_.topLeft();
        p.drawPixmap(QRectF(at.x() * fx, at.y() * fy, w->width() * fx, w->height() * fy), pix, QRectF(pix.rect()));
    }
    return image;
}

std::function<QPixmap(QWidget*)>& DemoRecorder::windowGrabber() {
    static std::function<QPixmap(QWidget*)> grabber = [](QWidget* w) { return w->grab(); };
    return grabber;
}

QPixmap DemoRecorder::grabWindow(QWidget* window) { return windowGrabber()(window); }

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
    if (!encoder_ || !encoder_->writing) return;
    const double now = elapsed();
    if (now - lastFrameTime_ < 0.5 / fps_) return;
    const QList<QWidget*> windows = recordedWindows();
    if (windows.isEmpty()) return;
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
