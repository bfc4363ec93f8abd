// A column whose first widget is a picture area kept at a fixed aspect, with rows of fixed height
// under it. The picture takes the column's width, or less when the column is too short for it (then
// it is centred); the rows follow right under the picture, and spare height stays below them.
#pragma once

#include <QLayout>
#include <QList>

namespace tarnel {

class TPictureColumnLayout : public QLayout {
public:
    // `picture` is the smallest and default size of the picture area; it fixes the aspect too.
    TPictureColumnLayout(QWidget* parent, QSize picture);
    ~TPictureColumnLayout() override;

    // The first widget added is the picture; each later one is a row.
    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override { return minimumSize(); }
    QSize minimumSize() const override;
    void setGeometry(const QRect& area) override;

private:
    int RowsHeight() const;

    QSize picture_;
    QList<QLayoutItem*> items_;
};

} // namespace tarnel
