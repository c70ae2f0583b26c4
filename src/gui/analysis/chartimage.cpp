#include "analysis/chartimage.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <csetjmp>

#include <unordered_map>
#include <vector>

#include <png.h>
#include <zlib.h>

#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QtCharts/QChart>
#include <QtCharts/QXYSeries>

#include "analysis/chartview.h"
#include "analysis/mgrafik.h"
#include "app/dialogs.h"
#include "app/program_text.h"
#include "app/shown_text.h"
#include "common/atomic_file.h"

namespace tarvelo::gui {

namespace {

QString text(app::ProgramText id, int language) {
    return shownText(id, language);
}

// The resolution at which a PDF page's units are the chart's pixels.
constexpr int kPointsPerInch = 72;
// A drawing's stated size: the chart's pixels at the usual screen resolution,
// so that a viewer shows it as large as the window did.
constexpr int kScreenDotsPerInch = 96;

// A change of view (new limits, a channel hidden) reaches the chart's layout
// and its axis labels through posted events, before the window paints
// again: they are applied first, so that the picture is the view the
// operator sees, not the one before the last change. Only the layout
// requests: a repaint of the window, also waiting there, is not needed for
// the picture and would cost more than drawing it.
void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

void appendPngBytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
}

// The picture as one palette index a pixel, when it has at most 256 colours,
// as a chart drawn without antialiased lines usually has: a third of the
// bytes of true colour to compress, and a smaller file. False otherwise.
bool toIndexed(const QImage& image, std::vector<png_byte>& indices,
               std::vector<png_color>& palette) {
    const int width = image.width();
    const int height = image.height();
    std::unordered_map<QRgb, png_byte> known;
    known.reserve(512);
    palette.clear();
    indices.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    png_byte* out = indices.data();
    // A chart is mostly runs of one colour: only a change of colour is
    // looked up.
    QRgb last = 0;
    png_byte lastIndex = 0;
    bool any = false;
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (const QRgb* pixel = line; pixel != line + width; ++pixel) {
            const QRgb colour = *pixel & 0xffffffu;
            if (colour != last || !any) {
                auto found = known.find(colour);
                if (found == known.end()) {
                    if (palette.size() == 256)
                        return false;
                    found = known.emplace(colour, static_cast<png_byte>(palette.size())).first;
                    palette.push_back({static_cast<png_byte>(qRed(colour)),
                                       static_cast<png_byte>(qGreen(colour)),
                                       static_cast<png_byte>(qBlue(colour))});
                }
                last = colour;
                lastIndex = found->second;
                any = true;
            }
            *out++ = lastIndex;
        }
    }
    return true;
}

// Rows of 8-bit palette indices (when `palette` is given) or of RGB bytes
// as a PNG file, without filters and with fast run-length compression: a
// chart is mostly even areas, long runs of one byte. Empty on failure.
QByteArray writePng(int width, int height, const std::vector<png_color>* palette,
                    const std::vector<const png_byte*>& rows) {
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(width) * height / 8);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return {};
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &bytes, appendPngBytes, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette)
        png_set_PLTE(png, info, palette->data(), static_cast<int>(palette->size()));
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_compression_buffer_size(png, 1 << 20);
    png_write_info(png, info);
    for (const png_byte* row : rows)
        png_write_row(png, row);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

// An opaque image as a PNG file: indexed colour where the picture allows it,
// true colour otherwise. Written with libpng rather than through Qt's image
// writer, which leaves libpng choosing a row filter for every row among all
// five and made the save several times slower than drawing the chart.
QByteArray encodePng(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const int width = image.width();
    const int height = image.height();
    std::vector<png_byte> indices;
    std::vector<png_color> palette;
    std::vector<const png_byte*> rows(static_cast<std::size_t>(height));
    if (toIndexed(image, indices, palette)) {
        for (int y = 0; y < height; ++y)
            rows[y] = indices.data() + static_cast<std::size_t>(y) * width;
        return writePng(width, height, &palette, rows);
    }
    // Three bytes a pixel in the file's own order: Qt converts the whole
    // picture at once, faster than libpng's per-row byte swapping.
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        rows[y] = rgb.constScanLine(y);
    return writePng(width, height, nullptr, rows);
}

// Clips the segment a-b to `r` (Liang-Barsky). False when nothing of it lies
// inside; otherwise a and b are moved to the ends of the part inside.
bool clipSegment(QPointF& a, QPointF& b, const QRectF& r) {
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - r.left(), r.right() - a.x(), a.y() - r.top(), r.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const QPointF start = a;
    a = start + QPointF(dx, dy) * t0;
    b = start + QPointF(dx, dy) * t1;
    return true;
}

// Appends `value` with two decimals (a hundredth of a pixel) to `out`.
void appendCoordinate(QByteArray& out, double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    if (result.ec == std::errc())
        out.append(buffer, result.ptr - buffer);
    else
        out.append('0');
}

// The curves of a drawing for a paint device that cannot clip (the SVG
// generator ignores clipping, so the chart's own curves would run past the
// plot area and the limits the operator chose): while it lives, the chart's
// curves are left out of its drawing. drawDots() paints the curves that are
// a single point, svgPolylines() gives the others clipped to the plot area by
// their geometry, as SVG elements in the chart's coordinates. They are
// written here rather than through the generator's painter, which formats
// every coordinate through a locale-aware text stream and made the save
// several times slower than drawing the chart.
class ClippedCurves {
public:
    explicit ClippedCurves(QChart& chart) : chart_(chart) {
        for (QAbstractSeries* series : chart.series()) {
            auto* xy = qobject_cast<QXYSeries*>(series);
            if (!xy || !xy->isVisible())
                continue;
            series_.append({xy, xy->opacity()});
            // A fully transparent item is not drawn at all; the legend
            // keeps its markers.
            xy->setOpacity(0.0);
        }
    }
    ~ClippedCurves() {
        for (const auto& [series, opacity] : series_)
            series->setOpacity(opacity);
    }
    ClippedCurves(const ClippedCurves&) = delete;
    ClippedCurves& operator=(const ClippedCurves&) = delete;

    // Paints the curves of one point as dots, in the chart's coordinates.
    void drawDots(QPainter& painter) const {
        const QRectF area = chart_.plotArea();
        for (const auto& [series, opacity] : series_) {
            if (series->count() != 1)
                continue;
            const QPointF at = chart_.mapToPosition(series->at(0), series);
            if (!area.contains(at))
                continue;
            painter.setOpacity(opacity);
            painter.setPen(Qt::NoPen);
            painter.setBrush(series->pen().color());
            const qreal r = series->markerSize() / 2;
            painter.drawEllipse(at, r, r);
        }
        painter.setOpacity(1.0);
    }

    // The curves of two points or more as SVG groups of polylines, one
    // group a curve with its pen, each polyline a piece inside the plot area.
    QByteArray svgPolylines() const {
        QByteArray out;
        const QRectF area = chart_.plotArea();
        for (const auto& [series, opacity] : series_) {
            const QList<QPointF> points = series->points();
            if (points.size() < 2)
                continue;
            const QPen pen = series->pen();
            out += "<g fill=\"none\" stroke=\"" + pen.color().name().toLatin1() +
                   "\" stroke-opacity=\"" + QByteArray::number(pen.color().alphaF() * opacity) +
                   "\" stroke-width=\"" + QByteArray::number(pen.widthF()) +
                   "\" stroke-linecap=\"" + capName(pen.capStyle()) + "\" stroke-linejoin=\"" +
                   joinName(pen.joinStyle()) + "\">\n";
            QByteArray piece;
            QPointF pieceEnd;
            auto flush = [&out, &piece] {
                if (!piece.isEmpty())
                    out += "<polyline points=\"" + piece + "\"/>\n";
                piece.clear();
            };
            auto add = [&piece](const QPointF& p) {
                if (!piece.isEmpty())
                    piece += ' ';
                appendCoordinate(piece, p.x());
                piece += ',';
                appendCoordinate(piece, p.y());
            };
            QPointF previous = chart_.mapToPosition(points.front(), series);
            for (qsizetype i = 1; i < points.size(); ++i) {
                const QPointF next = chart_.mapToPosition(points[i], series);
                QPointF a = previous;
                QPointF b = next;
                previous = next;
                if (!clipSegment(a, b, area)) {
                    flush();
                    continue;
                }
                if (!piece.isEmpty() && pieceEnd != a)
                    flush();
                if (piece.isEmpty())
                    add(a);
                add(b);
                pieceEnd = b;
            }
            flush();
            out += "</g>\n";
        }
        return out;
    }

private:
    static QByteArray capName(Qt::PenCapStyle cap) {
        return cap == Qt::FlatCap ? "butt" : cap == Qt::RoundCap ? "round" : "square";
    }
    static QByteArray joinName(Qt::PenJoinStyle join) {
        return join == Qt::RoundJoin ? "round" : join == Qt::BevelJoin ? "bevel" : "miter";
    }

    QChart& chart_;
    QList<std::pair<QXYSeries*, qreal>> series_;
};

}  // namespace

std::optional<ChartImage::Format> ChartImage::formatForPath(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return Format::Png;
    if (suffix == QLatin1String("svg"))
        return Format::Svg;
    if (suffix == QLatin1String("pdf"))
        return Format::Pdf;
    return std::nullopt;
}

QSize ChartImage::size() const {
    settle();
    const QSizeF shown = graph_.chart()->size();
    return QSize(std::max(1, static_cast<int>(std::ceil(shown.width()))),
                 std::max(1, static_cast<int>(std::ceil(shown.height()))));
}

QImage ChartImage::toImage() const {
    settle();
    const QSize logical = size();
    const qreal ratio = std::max<qreal>(1.0, graph_.devicePixelRatioF());
    // Opaque: a PNG without an alpha channel is smaller and quicker to write.
    QImage image(logical * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    // The chart's rounded background leaves the corners open: white, as on
    // paper, instead of transparent.
    image.fill(Qt::white);
    QPainter painter(&image);
    // Drawn as the window draws it.
    painter.setRenderHints(graph_.chartView()->renderHints());
    graph_.renderChart(painter, QRectF(QPointF(0, 0), QSizeF(logical)));
    painter.end();
    return image;
}

QByteArray ChartImage::encode(Format format) const {
    settle();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QSize logical = size();
    const QRectF target(QPointF(0, 0), QSizeF(logical));
    const QString title = graph_.chart()->title();
    switch (format) {
        case Format::Png:
            bytes = encodePng(toImage());
            break;
        case Format::Svg: {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(logical);
            svg.setViewBox(target);
            svg.setResolution(kScreenDotsPerInch);
            svg.setTitle(title);
            const ClippedCurves curves(*graph_.chart());
            QPainter painter(&svg);
            graph_.renderChart(painter, target);
            // The chart is drawn unscaled with its top-left corner at the
            // picture's origin: its coordinates are the picture's.
            curves.drawDots(painter);
            painter.end();
            // The curves over everything else, as the window draws them.
            const qsizetype end = bytes.lastIndexOf("</svg>");
            if (end >= 0)
                bytes.insert(end, curves.svgPolylines());
            break;
        }
        case Format::Pdf: {
            QPdfWriter pdf(&buffer);
            pdf.setTitle(title);
            pdf.setResolution(kPointsPerInch);
            // One page of exactly the chart's size, one point per pixel.
            pdf.setPageLayout(QPageLayout(QPageSize(QSizeF(logical), QPageSize::Point),
                                          QPageLayout::Portrait, QMarginsF()));
            QPainter painter(&pdf);
            graph_.renderChart(painter, target);
            break;
        }
    }
    return bytes;
}

bool ChartImage::save(const QString& path, Format format, std::string* error) const {
    const QByteArray bytes = encode(format);
    if (bytes.isEmpty()) {
        if (error)
            *error = "the picture could not be made";
        return false;
    }
    return common::writeFileAtomically(
        QFile::encodeName(path).toStdString(),
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), error);
}

void ChartImage::copyToClipboard() const {
    QGuiApplication::clipboard()->setImage(toImage());
}

void saveChartImageAs(TgraphView& graph, Dialogs& dialogs, const QString& folder, int language,
                      const QString& errorCaption) {
    FileRequest request;
    request.title = text(app::ProgramText::GraphImageTitle, language);
    request.folder = folder;
    request.filter = text(app::ProgramText::GraphImageFilter, language);
    request.defaultSuffix = QStringLiteral("png");
    request.fileName = QStringLiteral("graph.png");
    request.suffixFromFilter = true;
    refuseMissingFolder(request, language, errorCaption);
    const QString path = dialogs.saveFileName(&graph, request);
    if (path.isEmpty())
        return;
    // The name ends in the suffix the operator typed (any of the three
    // formats) or else in the chosen filter's; a name that still names none
    // of them is saved as PNG, the first choice.
    const ChartImage::Format format =
        ChartImage::formatForPath(path).value_or(ChartImage::Format::Png);
    std::string error;
    if (!ChartImage(graph).save(path, format, &error)) {
        dialogs.message(&graph,
                        text(app::ProgramText::GraphImageFailed, language) + QLatin1Char('\n') +
                            path + QLatin1Char('\n') + QString::fromStdString(error),
                        errorCaption, QMessageBox::Critical, QMessageBox::Ok);
    }
}

}  // namespace tarvelo::gui
