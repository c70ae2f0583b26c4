#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QColor>
#include <QPoint>
#include <QWidget>

#include "recording/recording.h"

namespace tarvelo::gui {

// The curves of a recording against its device time, drawn from the core's
// envelope: per pixel column the smallest and largest value of the samples
// in it, so no peak is hidden at any zoom; single samples as points when
// zoomed far in; no line across a gap. Wheel zoom around the cursor, drag
// to pan, a box drawn with the right button (or Shift and the left) to zoom
// into, undo, and a cursor line.
class RecordingView : public QWidget {
    Q_OBJECT

public:
    struct View {
        double startMs = 0;
        double endMs = 1;
        bool yFixed = false;  // false: the values' range in the view, with a margin
        double yMin = 0;
        double yMax = 1;
    };

    explicit RecordingView(QWidget* parent = nullptr);

    void setRecording(const recording::Recording* recording);
    void setChannelShown(int channel, bool shown);
    bool channelShown(int channel) const { return shown_[static_cast<std::size_t>(channel)]; }
    void setColour(int channel, const QColor& colour);
    QColor colour(int channel) const { return colours_[static_cast<std::size_t>(channel)]; }

    const View& view() const { return view_; }
    // Shows `view`; the one before is kept for undo().
    void showView(const View& view);
    void wholeRun();
    bool undo();
    bool canUndo() const { return !history_.empty(); }

    // The samples in the view: [first, second).
    std::pair<uint64_t, uint64_t> visibleStretch() const;
    // The area of the curves, and the mapping of time to x within the widget.
    QRect plotArea() const;
    double xOfTime(double timeMs) const;
    double timeOfX(double x) const;
    // The pixel columns of the last drawing (one per pixel of plotArea()'s
    // width) and whether it drew single samples.
    const std::vector<recording::ColumnEnvelope>& columns() const { return columns_; }
    bool drewPoints() const { return drewPoints_; }
    // The range of values the y axis shows.
    std::pair<double, double> yRange() const { return {yMin_, yMax_}; }

signals:
    void viewChanged();
    // The sample nearest to the cursor line, none when the cursor left.
    void cursorMoved(std::optional<uint64_t> sample);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setViewQuietly(View view);
    void computeColumns();
    void drawCurves(QPainter& painter, const QRect& area);
    void drawAxes(QPainter& painter, const QRect& area);
    double yOf(double value, const QRect& area) const;
    std::optional<uint64_t> nearestSample(double timeMs) const;

    const recording::Recording* recording_ = nullptr;
    std::array<bool, 4> shown_{true, true, true, true};
    std::array<QColor, 4> colours_;
    View view_;
    std::vector<View> history_;
    std::vector<recording::ColumnEnvelope> columns_;
    bool drewPoints_ = false;
    double yMin_ = 0, yMax_ = 1;
    // Mouse: a pan or a box in progress, and the cursor line's place.
    enum class Drag { None, Pan, Box } drag_ = Drag::None;
    QPoint dragFrom_, dragTo_;
    View dragStartView_;
    std::optional<int> cursorX_;
};

}  // namespace tarvelo::gui
