#include "Demo/MovieWriter.h"

#include "Demo/DemoRecorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

}  // namespace

MovieWriter::~MovieWriter() { release(); }

void MovieWriter::open(QSize pixels, int fps, const char* preset) {
    using Failure = DemoRecorder::Failure;
    size_ = pixels;
    // The encoder's per-run statistics would drown the demo's own lines.
    av_log_set_level(AV_LOG_ERROR);
    int rc = avformat_alloc_output_context2(&fmt_, nullptr, "mov", path_.c_str());
    if (rc < 0 || !fmt_) throw Failure::writer("can't create the movie: " + avError(rc));
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) throw Failure::writer("no H.264 encoder");
    stream_ = avformat_new_stream(fmt_, nullptr);
    enc_ = avcodec_alloc_context3(codec);
    if (!stream_ || !enc_) throw Failure::writer("can't add input");
    enc_->width = pixels.width();
    enc_->height = pixels.height();
    enc_->pix_fmt = AV_PIX_FMT_YUV420P;
    enc_->time_base = AVRational{1, 600};
    enc_->framerate = AVRational{fps, 1};
    enc_->bit_rate = static_cast<std::int64_t>(pixels.width()) * pixels.height() * 8;
    enc_->gop_size = std::max(fps, 1);
    enc_->max_b_frames = 0;
    if (fmt_->oformat->flags & AVFMT_GLOBALHEADER) enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(enc_->priv_data, "preset", preset, 0);
    rc = avcodec_open2(enc_, codec, nullptr);
    if (rc < 0) throw Failure::writer("can't add input: " + avError(rc));
    rc = avcodec_parameters_from_context(stream_->codecpar, enc_);
    if (rc < 0) throw Failure::writer("can't add input: " + avError(rc));
    stream_->time_base = AVRational{1, 600};
    rc = avio_open(&fmt_->pb, path_.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) throw Failure::writer("can't create the movie: " + avError(rc));
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_) throw Failure::writer("out of memory");
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = pixels.width();
    frame_->height = pixels.height();
    if (av_frame_get_buffer(frame_, 0) < 0) throw Failure::writer("out of memory");
    sws_ = sws_getContext(pixels.width(), pixels.height(), AV_PIX_FMT_BGRA, pixels.width(), pixels.height(),
                          AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_) throw Failure::writer("can't convert frames");
}

bool MovieWriter::begin(bool threaded) {
    AVDictionary* options = nullptr;
    // Without this the muxer raises the track's time scale on its own.
    av_dict_set(&options, "video_track_timescale", "600", 0);
    const int rc = avformat_write_header(fmt_, &options);
    av_dict_free(&options);
    if (rc < 0) return false;
    writing_ = true;
    if (threaded) worker_ = std::thread([this] { run(); });
    return true;
}

bool MovieWriter::push(QImage image, std::int64_t pts) {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= queueLimit) return false;
    queue_.emplace_back(std::move(image), pts);
    cv_.notify_one();
    return true;
}

void MovieWriter::run() {
    for (;;) {
        std::pair<QImage, std::int64_t> item;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [&] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        encode(&item.first, item.second);
    }
}

bool MovieWriter::convert(const QImage& image) {
    last_ = QImage();
    const int rc = av_frame_make_writable(frame_);
    if (rc < 0) {
        std::lock_guard lock(mutex_);
        if (error_.isEmpty()) error_ = avError(rc);
        return false;
    }
    const uint8_t* src[1] = {image.constBits()};
    const int stride[1] = {static_cast<int>(image.bytesPerLine())};
    sws_scale(sws_, src, stride, 0, size_.height(), frame_->data, frame_->linesize);
    return true;
}

void MovieWriter::encodeConverted(std::int64_t pts) {
    frame_->pts = pts;
    send(false);
}

namespace {

bool sameBytes(const QImage& a, const QImage& b) {
    return a.size() == b.size() && a.format() == b.format() && a.bytesPerLine() == b.bytesPerLine() &&
           std::memcmp(a.constBits(), b.constBits(), static_cast<std::size_t>(a.sizeInBytes())) == 0;
}

}  // namespace

void MovieWriter::encode(const QImage* image, std::int64_t pts) {
    if (!image) {
        send(true);
        return;
    }
    // A screen that stood still (most of a demo's frames) is the picture
    // converted last: comparing costs a fraction of converting again.
    const bool same = !last_.isNull() && sameBytes(last_, *image);
    if (same || convert(*image)) {
        last_ = *image;
        encodeConverted(pts);
    }
}

void MovieWriter::send(bool flush) {
    int rc = avcodec_send_frame(enc_, flush ? nullptr : frame_);
    while (rc >= 0) {
        rc = avcodec_receive_packet(enc_, packet_);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        if (rc < 0) break;
        av_packet_rescale_ts(packet_, enc_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        rc = av_interleaved_write_frame(fmt_, packet_);
    }
    if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) {
        std::lock_guard lock(mutex_);
        if (error_.isEmpty()) error_ = avError(rc);
    }
}

void MovieWriter::stopWorker() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    cv_.notify_one();
    if (worker_.joinable()) worker_.join();
}

QString MovieWriter::finish() {
    stopWorker();
    encode(nullptr, 0);
    const int rc = av_write_trailer(fmt_);
    if (rc < 0 && error_.isEmpty()) error_ = avError(rc);
    writing_ = false;
    release();
    return error_;
}

void MovieWriter::cancel() {
    stopWorker();
    writing_ = false;
    release();
    std::remove(path_.c_str());
}

void MovieWriter::release() {
    if (worker_.joinable()) stopWorker();
    if (fmt_ && fmt_->pb) avio_closep(&fmt_->pb);
    if (fmt_) avformat_free_context(fmt_);
    fmt_ = nullptr;
    if (enc_) avcodec_free_context(&enc_);
    if (frame_) av_frame_free(&frame_);
    last_ = QImage();
    if (packet_) av_packet_free(&packet_);
    if (sws_) sws_freeContext(sws_);
    sws_ = nullptr;
}

}  // namespace orrery
