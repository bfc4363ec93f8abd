#include "CatalogueList.h"

#include "core/MainSettings.h"
#include "skin/SkinPictures.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace tarnel {

namespace {

const QColor kBackground(246, 247, 248);
const QColor kFocusFill(185, 204, 236);
const QColor kFocusFrame(122, 160, 218);
const QColor kProfileText(0, 0, 128);

class TCatalogueDelegate final : public QStyledItemDelegate {
public:
    explicit TCatalogueDelegate(TCatalogueList& list)
        : QStyledItemDelegate(&list)
        , list_(list) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {0, TCatalogueList::kEntryHeight};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto row = static_cast<size_t>(index.row());
        if (row >= list_.Entries().size())
            return;
        const TItemInfo& entry = list_.Entries()[row];
        QRect rect = option.rect;
        painter->save();
        if (option.state & QStyle::State_Selected) {
            painter->fillRect(rect.adjusted(2, 2, -2, -2), kFocusFill);
            painter->setPen(kFocusFrame);
            painter->drawRect(rect.adjusted(1, 1, -2, -2));
        } else {
            painter->fillRect(rect, kBackground);
        }
        rect.setLeft(rect.left() + 3);
        QFont font = option.font;
        const QString caption = QString::fromStdString(entry.Caption());
        if (entry.IsGroup) {
            font.setBold(true);
            painter->setFont(font);
            painter->setPen(Qt::black);
            const QPixmap glyph = skin::ExpandGlyph(!entry.Collapsed);
            painter->drawPixmap(rect.left() + 1, rect.top() + (rect.height() - 16) / 2, glyph);
            const QPixmap icon = skin::GroupIcon(entry.Code);
            painter->drawPixmap(rect.left() + 20, rect.top() + (rect.height() - 20) / 2, icon);
            painter->drawText(QRect(rect.left() + 45, rect.top() + 2, rect.width() - 45, rect.height() - 2),
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
        } else {
            painter->setFont(font);
            painter->setPen(option.state & QStyle::State_Selected ? Qt::black : kProfileText);
            painter->drawText(QRect(rect.left() + 25, rect.top() + 2, rect.width() - 25, rect.height() - 2),
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
        }
        painter->restore();
    }

private:
    const TCatalogueList& list_;
};

} // namespace

TCatalogueList::TCatalogueList(QWidget* parent)
    : QListWidget(parent) {
    setItemDelegate(new TCatalogueDelegate(*this));
    setMouseTracking(true);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::Box);
    setObjectName("lstFormat");
    hide();
}

void TCatalogueList::Fill(TMainSettings& settings) {
    entries_ = FillCatalogue(settings);
    RebuildItems();
}

void TCatalogueList::RebuildItems() {
    clear();
    for (const TItemInfo& entry : entries_)
        addItem(QString::fromStdString(entry.Caption()));
}

void TCatalogueList::SelectCaption(const QString& caption) {
    const int row = FindCatalogueEntry(entries_, caption.toStdString());
    setCurrentRow(row);
    if (row < 0)
        clearSelection();
}

void TCatalogueList::SaveGroupStates(TMainSettings& settings) const {
    tarnel::SaveGroupStates(entries_, settings);
}

void TCatalogueList::ToggleGroupAt(int row) {
    if (row < 0 || !ToggleGroup(entries_, static_cast<size_t>(row)))
        return;
    RebuildItems();
    setCurrentRow(row);
    emit GroupToggled();
}

int TCatalogueList::PreferredHeight(int limit) const {
    const int height = kEntryHeight * static_cast<int>(entries_.size()) + kEntryHeight;
    return std::min(height, limit);
}

void TCatalogueList::mousePressEvent(QMouseEvent* event) {
    const int row = indexAt(event->position().toPoint()).row();
    if (row < 0 || static_cast<size_t>(row) >= entries_.size())
        return;
    const TItemInfo entry = entries_[static_cast<size_t>(row)];
    if (entry.IsGroup) {
        if (event->position().x() < 20)
            ToggleGroupAt(row);
        else
            setCurrentRow(row);
        return;
    }
    if (entry.IsProfile)
        emit ProfileChosen(QString::fromStdString(entry.Caption()), entry.Code);
}

void TCatalogueList::mouseDoubleClickEvent(QMouseEvent* event) {
    const int row = indexAt(event->position().toPoint()).row();
    if (row >= 0 && static_cast<size_t>(row) < entries_.size() && entries_[static_cast<size_t>(row)].IsGroup)
        ToggleGroupAt(row);
}

// Hot tracking: the entry under the mouse is the selected one.
void TCatalogueList::mouseMoveEvent(QMouseEvent* event) {
    const int row = indexAt(event->position().toPoint()).row();
    if (row >= 0 && row != currentRow())
        setCurrentRow(row);
}

} // namespace tarnel
