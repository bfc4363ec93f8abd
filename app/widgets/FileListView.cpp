#include "FileListView.h"

#include "skin/SkinPictures.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <algorithm>

namespace tarnel {

namespace {

constexpr int kRowHeight = 20;
const QColor kOddRow(226, 230, 246);
const QColor kSelectedFocused(185, 204, 236);
const QColor kSelected(229, 236, 248);
const QColor kFrameFocused(122, 160, 218);
const QColor kFrame(152, 181, 226);

struct TColumnInfo {
    const char* Title;
    int Width;
};
constexpr TColumnInfo kColumns[] = {
    {"Source", 140}, {"Length", 65}, {"Trimmed Length", 90}, {"Destination File", 120}, {"Progress", 60}};

// The check box spans x = left + 2 … left + 14 of the first column.
bool InCheckBox(int x, int columnLeft) {
    return x >= columnLeft + 2 && x <= columnLeft + 14;
}

void DrawCheckBox(QPainter& painter, const QRect& cell, bool checked) {
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(
        QRect(QPoint(cell.left() + 2, cell.top() + 2), QPoint(cell.left() + 14, cell.bottom() - 2)));
    if (checked) {
        const QPoint tick[] = {{cell.left() + 4, cell.top() + 6},
                               {cell.left() + 6, cell.top() + 11},
                               {cell.left() + 11, cell.top() + 5}};
        painter.drawPolyline(tick, 3);
    }
}

} // namespace

TFileRow::TFileRow(std::unique_ptr<TlvFilesRecord> record)
    : record_(std::move(record)) {
    setSizeHint(0, QSize(0, kRowHeight));
}

TFileListView::TFileListView(QWidget* parent)
    : QTreeWidget(parent) {
    setObjectName("lvFiles");
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    header()->setStretchLastSection(false);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { emit ContextMenuRequested(viewport()->mapToGlobal(pos)); });
    ShowListView();
}

TFileRow* TFileListView::Row(int index) const {
    return static_cast<TFileRow*>(topLevelItem(index));
}

int TFileListView::SelectedIndex() const {
    if (currentItem() && currentItem()->isSelected())
        return indexOfTopLevelItem(currentItem());
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.last());
}

std::vector<int> TFileListView::SelectedIndexes() const {
    std::vector<int> indexes;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected())
            indexes.push_back(i);
    return indexes;
}

void TFileListView::SelectRow(int index) {
    QTreeWidgetItem* item = topLevelItem(index);
    if (!item)
        return;
    setCurrentItem(item);
    item->setSelected(true);
}

bool TFileListView::HasRow(const QString& caption) const {
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->text(colSource) == caption)
            return true;
    return false;
}

void TFileListView::ShowReportView() {
    setColumnCount(5);
    QStringList titles;
    for (const TColumnInfo& column : kColumns)
        titles << column.Title;
    setHeaderLabels(titles);
    FitColumns();
    setHeaderHidden(false);
}

// The designed widths in a list of the designed width; a wider list gives its extra width to the
// source and destination names, which are the ones cut short.
void TFileListView::FitColumns() {
    const int extra = std::max(0, width() - kDesignedWidth);
    for (int i = 0; i < 5; ++i)
        setColumnWidth(i, kColumns[i].Width + (i == colSource || i == colDestination ? extra / 2 : 0));
}

void TFileListView::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    if (InReportView())
        FitColumns();
}

void TFileListView::ShowListView() {
    setHeaderHidden(true);
    setColumnCount(1);
}

void TFileListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const TFileRow* row = Row(index.row());
    if (!row)
        return;
    const bool selected = row->isSelected();
    const bool focused = hasFocus();
    const QRect rowRect = option.rect.adjusted(1, 0, -1, 0);
    painter->save();
    QColor fill = index.row() % 2 == 0 ? QColor(Qt::white) : kOddRow;
    if (selected)
        fill = focused ? kSelectedFocused : kSelected;
    painter->fillRect(rowRect, fill);

    painter->setFont(option.font);
    for (int column = 0; column < columnCount(); ++column) {
        QRect cell(header()->sectionViewportPosition(column), option.rect.top(),
                   header()->sectionSize(column), option.rect.height());
        if (column == colSource) {
            DrawCheckBox(*painter, cell, row->Checked());
            cell.setLeft(cell.left() + 17);
        }
        painter->setPen(Qt::black);
        // Paths and file names lose their middle, so the folder's start and the name's end stay.
        const Qt::TextElideMode elide =
            column == colSource || column == colDestination ? Qt::ElideMiddle : Qt::ElideRight;
        const QString text = option.fontMetrics.elidedText(row->text(column), elide, cell.width() - 2);
        painter->drawText(
            cell.adjusted(1, 0, -1, 0),
            static_cast<int>(row->textAlignment(column)) | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
    if (selected) {
        painter->setPen(focused ? kFrameFocused : kFrame);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(rowRect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

void TFileListView::paintEvent(QPaintEvent* event) {
    if (topLevelItemCount() > 0) {
        QTreeWidget::paintEvent(event);
        return;
    }
    // The empty list's hint is drawn for the list's size, again whenever the size changes.
    if (background_.size() != viewport()->size())
        background_ = skin::ListBackground(viewport()->width(), viewport()->height());
    QPainter painter(viewport());
    painter.drawImage(QPoint(0, 0), background_);
}

void TFileListView::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (auto* row = static_cast<TFileRow*>(itemAt(pos));
        row && event->button() == Qt::LeftButton &&
        InCheckBox(pos.x(), header()->sectionViewportPosition(0))) {
        row->SetChecked(!row->Checked());
        viewport()->update();
        emit TicksChanged();
    }
    QTreeWidget::mousePressEvent(event);
}

// Space ticks or unticks the selected rows (all ticked when any was unticked).
void TFileListView::keyPressEvent(QKeyEvent* event) {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (event->key() != Qt::Key_Space || event->modifiers() != Qt::NoModifier || selected.isEmpty()) {
        QTreeWidget::keyPressEvent(event);
        return;
    }
    bool anyUnticked = false;
    for (QTreeWidgetItem* item : selected)
        anyUnticked = anyUnticked || !static_cast<TFileRow*>(item)->Checked();
    for (QTreeWidgetItem* item : selected)
        static_cast<TFileRow*>(item)->SetChecked(anyUnticked);
    viewport()->update();
    emit TicksChanged();
}

namespace {

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (data)
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                files << url.toLocalFile();
    return files;
}

} // namespace

void TFileListView::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TFileListView::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TFileListView::dropEvent(QDropEvent* event) {
    const QStringList files = LocalFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    emit FilesDropped(files);
}

} // namespace tarnel
