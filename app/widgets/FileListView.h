// The file list: one row per source file with a check box and five columns, drawn by the list
// itself. Each row owns its TlvFilesRecord. An empty list shows no columns and the background
// picture; files dropped from a file manager are offered to the main window.
#pragma once

#include "core/FilesRecord.h"

#include <QImage>
#include <QStringList>
#include <QTreeWidget>
#include <memory>
#include <vector>

namespace tarnel {

class TFileRow : public QTreeWidgetItem {
public:
    explicit TFileRow(std::unique_ptr<TlvFilesRecord> record);
    TlvFilesRecord& Record() { return *record_; }
    const TlvFilesRecord& Record() const { return *record_; }
    bool Checked() const { return checked_; }
    void SetChecked(bool checked) { checked_ = checked; }

private:
    std::unique_ptr<TlvFilesRecord> record_;
    bool checked_ = true;
};

class TFileListView : public QTreeWidget {
    Q_OBJECT
public:
    enum Column { colSource, colLength, colTrimmedLength, colDestination, colProgress };

    explicit TFileListView(QWidget* parent = nullptr);

    int RowCount() const { return topLevelItemCount(); }
    TFileRow* Row(int index) const;
    // The current row when it is selected, else the last selected one; -1 when none.
    int SelectedIndex() const;
    // Every selected row, in list order.
    std::vector<int> SelectedIndexes() const;
    void SelectRow(int index);
    bool HasRow(const QString& caption) const;
    // Report view with the five columns while the list has rows, list view with the background
    // picture while it is empty.
    bool InReportView() const { return !isHeaderHidden(); }
    void ShowReportView();
    void ShowListView();

    static constexpr int kDesignedWidth = 520;

signals:
    void FilesDropped(const QStringList& files);
    // A click on a check box or Space changed ticks.
    void TicksChanged();
    void ContextMenuRequested(const QPoint& globalPos);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FitColumns();

    QImage background_;
};

} // namespace tarnel
