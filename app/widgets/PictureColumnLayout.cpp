#include "widgets/PictureColumnLayout.h"

#include <QWidget>
#include <algorithm>

namespace tarnel {

TPictureColumnLayout::TPictureColumnLayout(QWidget* parent, QSize picture)
    : QLayout(parent)
    , picture_(picture) {
    setContentsMargins(0, 0, 0, 0);
}

TPictureColumnLayout::~TPictureColumnLayout() {
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void TPictureColumnLayout::addItem(QLayoutItem* item) {
    items_.append(item);
}

QLayoutItem* TPictureColumnLayout::itemAt(int index) const {
    return index >= 0 && index < items_.size() ? items_[index] : nullptr;
}

QLayoutItem* TPictureColumnLayout::takeAt(int index) {
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

int TPictureColumnLayout::RowsHeight() const {
    int height = 0;
    for (int i = 1; i < items_.size(); ++i)
        height += spacing() + items_[i]->sizeHint().height();
    return height;
}

QSize TPictureColumnLayout::minimumSize() const {
    int width = picture_.width();
    for (int i = 1; i < items_.size(); ++i)
        width = std::max(width, items_[i]->minimumSize().width());
    const QMargins margins = contentsMargins();
    return QSize(width, picture_.height() + RowsHeight()) +
           QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

void TPictureColumnLayout::setGeometry(const QRect& area) {
    QLayout::setGeometry(area);
    if (items_.isEmpty())
        return;
    const QRect inner = area.marginsRemoved(contentsMargins());
    const int rows = RowsHeight();
    int width = inner.width();
    int height = width * picture_.height() / picture_.width();
    if (height > inner.height() - rows) {
        height = std::max(picture_.height(), inner.height() - rows);
        width = std::min(inner.width(), height * picture_.width() / picture_.height());
    }
    items_[0]->setGeometry(QRect(inner.left() + (inner.width() - width) / 2, inner.top(), width, height));
    int top = inner.top() + height;
    for (int i = 1; i < items_.size(); ++i) {
        const int rowHeight = items_[i]->sizeHint().height();
        top += spacing();
        items_[i]->setGeometry(QRect(inner.left(), top, inner.width(), rowHeight));
        top += rowHeight;
    }
}

} // namespace tarnel
