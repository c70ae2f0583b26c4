#include "analysis/chartimage.h"

#include <algorithm>
#include <cmath>

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

#include "analysis/chartview.h"
#include "analysis/mgrafik.h"
#include "app/dialogs.h"
#include "app/program_text.h"
#include "common/atomic_file.h"

namespace tarvelo::gui {

namespace {

QString text(app::ProgramText id, int language) {
    const std::string_view t = app::programText(id, language);
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

// The resolution at which a PDF page's units are the chart's pixels.
constexpr int kPointsPerInch = 72;
// A drawing's stated size: the chart's pixels at the usual screen resolution,
// so that a viewer shows it as large as the window did.
constexpr int kScreenDotsPerInch = 96;

// A change of view (new limits, a channel hidden) reaches the chart's layout
// and its axis labels through posted events, before the window paints
// again: they are applied first, so that the picture is the view the
// operator sees, not the one before the last change.
void settle() {
    QCoreApplication::sendPostedEvents();
}

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
    QImage image(logical * ratio, QImage::Format_ARGB32_Premultiplied);
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
            toImage().save(&buffer, "PNG");
            break;
        case Format::Svg: {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(logical);
            svg.setViewBox(target);
            svg.setResolution(kScreenDotsPerInch);
            svg.setTitle(title);
            QPainter painter(&svg);
            graph_.renderChart(painter, target);
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
    const QString path = dialogs.saveFileName(&graph, request);
    if (path.isEmpty())
        return;
    // The dialog gives the name the chosen filter's suffix; a name that
    // names none of the three formats is saved as PNG, the first choice.
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
