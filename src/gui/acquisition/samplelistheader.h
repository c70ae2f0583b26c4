#pragma once

#include <QHeaderView>
#include <QStyleOptionHeaderV2>

namespace tarvelo::gui {

// The sample list's column captions. A caption longer than its column (a
// channel with a long unit) is shortened at its end, so the channel's name
// stays readable; the whole caption is the column's tooltip (the model's).
// Qt's own header works out the room for the shortened text before it knows
// the section's place, so a right-aligned caption was cut at its beginning.
class SampleListHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit SampleListHeader(QWidget* parent = nullptr);

    // The caption of a section as it is drawn.
    QString shownCaption(int logicalIndex) const;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    QStyleOptionHeaderV2 sectionOption(const QRect& rect, int logicalIndex) const;
};

}  // namespace tarvelo::gui
