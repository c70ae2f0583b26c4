#include "acquisition/samplelistheader.h"

#include <QPainter>

namespace tarvelo::gui {

SampleListHeader::SampleListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setTextElideMode(Qt::ElideRight);
}

QStyleOptionHeaderV2 SampleListHeader::sectionOption(const QRect& rect, int logicalIndex) const {
    QStyleOptionHeaderV2 option;
    initStyleOption(&option);
    // The section's own rectangle first: the caption is shortened to the
    // room its label has there.
    option.rect = rect;
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    const QRect label = style()->subElementRect(QStyle::SE_HeaderLabel, &option, this);
    const int room = label.width() - 4;
    if (option.fontMetrics.horizontalAdvance(option.text) > room)
        option.text = option.fontMetrics.elidedText(option.text, textElideMode(), room);
    return option;
}

QString SampleListHeader::shownCaption(int logicalIndex) const {
    const QRect rect(sectionViewportPosition(logicalIndex), 0, sectionSize(logicalIndex), height());
    return sectionOption(rect, logicalIndex).text;
}

void SampleListHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid())
        return;
    const QStyleOptionHeaderV2 option = sectionOption(rect, logicalIndex);
    const QPointF brushOrigin = painter->brushOrigin();
    painter->setBrushOrigin(option.rect.topLeft());
    style()->drawControl(QStyle::CE_Header, &option, painter, this);
    painter->setBrushOrigin(brushOrigin);
}

}  // namespace tarvelo::gui
