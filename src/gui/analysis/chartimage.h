#pragma once

#include <optional>
#include <string>

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace tarvelo::gui {

class Dialogs;
class TgraphView;

// The graph window's chart as a picture, exactly as the window shows it at
// that moment: the drawn curves, the axes with their current limits, the
// legend and the title, at the size the window shows the chart. PNG is a
// raster image; SVG and PDF keep lines and texts as vectors.
class ChartImage {
public:
    enum class Format { Png, Svg, Pdf };

    explicit ChartImage(TgraphView& graph) : graph_(graph) {}

    // The format a file name asks for by its suffix (case-insensitive).
    static std::optional<Format> formatForPath(const QString& path);

    // In device-independent pixels; a raster image holds as many pixels
    // times the screen's device pixel ratio.
    QSize size() const;
    QImage toImage() const;
    // The content of a file in `format`.
    QByteArray encode(Format format) const;
    // Replaces the file atomically. False with a reason in `error` when the
    // file could not be written (an existing one then stays as it was).
    bool save(const QString& path, Format format, std::string* error = nullptr) const;
    void copyToClipboard() const;

private:
    TgraphView& graph_;
};

// The graph window's "Image..." action: asks for a file name through the
// dialog seam (the chosen filter decides the format), saves the picture
// there and tells the operator in a box when that failed.
void saveChartImageAs(TgraphView& graph, Dialogs& dialogs, const QString& folder, int language,
                      const QString& errorCaption);

}  // namespace tarvelo::gui
