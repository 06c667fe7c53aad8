#pragma once
// Records the application's own windows over a plain backdrop into an H.264
// QuickTime movie, and beside it a virtual cursor path, clicks, captions and
// a project description as JSON, for editing the demo video later. No real
// input is sent and no cursor is drawn: the script acts on the application
// itself and the recorder only logs where a pointer would be.
//
// Coordinates are Qt's global logical pixels, origin top-left. Frames are
// grabbed and composited on the GUI thread; conversion and encoding run on a
// worker behind a queue of two frames, and a frame that finds the queue full
// is dropped instead of building a backlog. droppedFrames() counts those and
// every timer tick that passed without a frame because the GUI thread was
// busy past it: each is a frame the movie lacks.
#include <QColor>
#include <QPainter>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>

class QWidget;

#include <QElapsedTimer>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "Async/Task.h"

namespace orrery {

class MovieWriter;

class DemoRecorder : public QObject {
    Q_OBJECT
public:
    struct Caption {
        double start = 0;
        double end = 0;
        QString text;
    };

    class Failure : public std::runtime_error {
    public:
        enum class Kind { writer, noAnchor };
        Failure(Kind kind, const QString& message)
            : std::runtime_error(message.toStdString()), kind(kind), message(message) {}
        static Failure writer(const QString& m) { return Failure(Kind::writer, m); }
        Kind kind;
        QString message;
    };

    // Throws Failure (writer) for an empty region or a movie that cannot be
    // set up, std::system_error when the folder cannot be made.
    DemoRecorder(const QString& folder, const QRectF& region, int fps, const QList<QColor>& backdrop,
                 QObject* parent = nullptr);
    ~DemoRecorder() override;

    QString folder() const { return folder_; }
    QRect region() const { return region_; }
    double scale() const { return scale_; }
    QSize pixelSize() const { return pixelSize_; }
    int framesWritten() const { return framesWritten_; }
    int failedCaptures() const { return failedCaptures_; }
    int droppedFrames() const { return droppedFrames_; }
    double elapsed() const;
    QPointF cursor() const { return cursor_; }
    const std::vector<std::array<double, 3>>& cursorLog() const { return cursorLog_; }
    const std::vector<std::array<double, 3>>& clicks() const { return clicks_; }
    const std::vector<Caption>& captions() const { return captions_; }

    void start();
    // Later frames are scaled into the same pixel size. Throws Failure
    // (writer) for a rectangle without area.
    void setRegion(const QRectF& rect);

    Task<void> wait(double seconds);
    void caption(const QString& text);
    void clearCaption();
    Task<void> move(QPointF to, double duration);
    Task<void> moveToAnchor(const QString& id, double duration);
    Task<void> click(const QString& anchor, double duration);
    Task<void> clickAt(QPointF point, double duration);
    void recordClick();
    Task<void> type(const QString& text, std::function<void(const QString&)> into, double perCharacter);
    // Throws Failure (writer) when no frame was captured or the movie cannot
    // be closed, std::system_error for the JSON files.
    Task<void> finish(const QString& name);

    // One frame now, as the timer would (tests drive pacing through this).
    void captureFrame();

    // The encoder preset for a frame size: fast enough for 30 frames a second
    // on a small machine.
    static const char* presetFor(QSize pixels);
    // The pixel scale for a region: the screen's factor, capped so the movie
    // stays within 2560 pixels wide.
    static double scaleFor(const QRectF& region);
    static QSize pixelSizeFor(const QRect& region, double scale);

    // The picture of the app's visible windows over the backdrop, at
    // pixelSize, drawn as they look on screen: a sheet (a window-modal
    // dialog) dims the window it belongs to and has an edge and a shadow.
    QImage composite() const;
    // The app's visible top-level windows, bottom to top.
    static QList<QWidget*> recordedWindows();
    // The window it is attached to when `w` is a sheet, else null.
    static QWidget* sheetParent(QWidget* w);
    // How a window is drawn into a frame, at `target` (the window's place
    // in frame pixels); the application replaces it where the window's own
    // pixels miss content (web views).
    using WindowPainter = std::function<void(QPainter&, QWidget*, const QRectF& target)>;
    static WindowPainter& windowPainter();
    // What the window last put on screen, drawn straight from its backing
    // store (grab() would draw every widget again); grab() when the backing
    // store holds no image of the window's size.
    static void paintScreenPixels(QPainter& p, QWidget* window, const QRectF& target);
    // The same pixels as an image of their own.
    static QImage screenPixels(QWidget* window);

private:
    void logSample(std::vector<std::array<double, 3>>& into);
    // A frame of pixelSize holding the backdrop: a kept one nobody else
    // holds, else `spare`.
    QImage& frameBuffer(QImage& spare) const;
    void drawSheetSurroundings(QPainter& p, const QRectF& parent, const QRectF& sheet) const;
    void closeCaption();

    QString folder_;
    QRect region_;
    int fps_;
    double scale_ = 1;
    QList<QColor> backdrop_;
    QImage backdropImage_;  // the backdrop at pixelSize, made once
    // Frames drawn before: one is drawn again once nothing else holds it
    // (the encoder has let it go), rather than a new image per frame.
    mutable std::vector<QImage> frames_;
    mutable QImage shadow_;  // a sheet's shadow, made again for another size
    mutable QSize shadowFor_;
    QSize pixelSize_;
    QElapsedTimer clock_;
    bool started_ = false;
    QTimer* timer_ = nullptr;
    double lastFrameTime_ = -1;
    double lastTickTime_ = -1;  // the last tick that made a frame, written or not
    int failedCaptures_ = 0;
    int framesWritten_ = 0;
    int droppedFrames_ = 0;
    QPointF cursor_;
    std::vector<std::array<double, 3>> cursorLog_;
    std::vector<std::array<double, 3>> clicks_;
    std::vector<Caption> captions_;
    std::optional<std::pair<double, QString>> openCaption_;
    std::unique_ptr<MovieWriter> encoder_;
};

}  // namespace orrery
