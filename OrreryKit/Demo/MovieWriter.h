#pragma once
// The recorder's movie: H.264 (libx264, yuv420p) in a QuickTime file with a
// time scale of 600. Frames are converted and encoded either on a worker
// thread behind a short queue (push), or in the caller's thread (encode).
#include <QImage>
#include <QSize>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct SwsContext;
struct AVFrame;
struct AVPacket;

namespace orrery {

class MovieWriter {
public:
    // More queued frames than this means the encoder has fallen behind.
    static constexpr std::size_t queueLimit = 2;

    explicit MovieWriter(std::string path) : path_(std::move(path)) {}
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // Sets up the encoder and opens the file; throws DemoRecorder::Failure
    // (writer) when either cannot be done.
    void open(QSize pixels, int fps, const char* preset);
    // Writes the header; with `threaded`, starts the worker that push feeds.
    // False leaves the movie unwritten.
    bool begin(bool threaded = true);
    bool writing() const { return writing_; }

    // Hands a frame (ARGB32 premultiplied, the open size) with its time in
    // 1/600 s to the worker; false when the queue is full (the frame is not
    // taken). The worker holds the image until it has been encoded and
    // compared with the next one: a caller reusing its buffers takes back
    // only those it alone holds (QImage::isDetached).
    bool push(QImage image, std::int64_t pts);
    // Without a worker: converts and encodes one frame now.
    bool convert(const QImage& image);
    void encodeConverted(std::int64_t pts);

    // Drains the encoder and closes the movie; the first error, else empty.
    QString finish();
    // Stops and deletes the file.
    void cancel();

private:
    void run();
    void encode(const QImage* image, std::int64_t pts);
    void send(bool flush);
    void stopWorker();
    void release();

    std::string path_;
    QSize size_;
    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* enc_ = nullptr;
    AVStream* stream_ = nullptr;
    SwsContext* sws_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    bool writing_ = false;

    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::pair<QImage, std::int64_t>> queue_;
    bool closing_ = false;
    QString error_;  // first encoding failure
    QImage last_;    // the frame converted last (worker only)
};

}  // namespace orrery
