// The watermark dialog's widgets and the layouts that place them: the picture column (layer view,
// preview bar, transport and time) on the left, the layer column (list, place bars, time range) on
// the right, the text style row under both and the buttons at the bottom. The layouts keep the
// designed size at the default font and grow the window when a caption needs more room; the layer
// view keeps its size, because the layers' places are picture pixels of it.
#include "TrackBar2.h"
#include "WatermarkDialog.h"
#include "preview/PreviewPlayer.h"
#include "skin/SkinPictures.h"
#include "widgets/DialogBars.h"
#include "widgets/LayerView.h"
#include "widgets/PreviewPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace tarnel {

namespace {

const QColor kSelectedEntry(185, 204, 236);
const QColor kSelectedFrame(122, 159, 218);
const QColor kEntry(246, 246, 248);

// The layer list's entries: the selected one on a light blue with a frame, the others on a near
// white; a marker tells text from picture, and the caption is cut with an ellipsis.
class TLayerListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QRect r = option.rect;
        painter->fillRect(r, selected ? kSelectedEntry : kEntry);
        if (selected) {
            painter->setPen(kSelectedFrame);
            painter->drawRect(r.adjusted(0, 0, -1, -1));
        }
        const bool image = index.data(Qt::UserRole).toBool();
        const QPixmap marker = skin::LayerKindPicture(image);
        painter->drawPixmap(r.left() + 2, r.top() + (r.height() - marker.height()) / 2, marker);
        painter->setPen(Qt::black);
        const QRect textRect = r.adjusted(19, 0, -2, 0);
        const QString text =
            option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, textRect.width());
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), 24};
    }
};

// A read-only field wide enough for `sample` in its font, and at least `designedWidth`.
QLineEdit* NumberField(const char* name, int designedWidth, int height, const QString& sample) {
    auto* field = new QLineEdit;
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setAlignment(Qt::AlignRight);
    field->setFixedSize(std::max(designedWidth, field->fontMetrics().horizontalAdvance(sample) + 16),
                        std::max(height, field->fontMetrics().height() + 6));
    return field;
}

QPushButton* Button(const char* caption, int width, int height) {
    auto* button = new QPushButton(caption);
    button->setMinimumSize(width, height);
    return button;
}

// A list whose width follows `minimumCharacters` of its font rather than its longest entry, and is
// at least `designedWidth`.
QComboBox* ListBox(const char* name, int designedWidth, int minimumCharacters) {
    auto* list = new QComboBox;
    list->setObjectName(name);
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    list->setMinimumContentsLength(minimumCharacters);
    list->setMinimumWidth(designedWidth);
    list->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return list;
}

} // namespace

TfrmWaterMark::TfrmWaterMark(TMainSettings& settings, TShellServices& services, std::string helpPage,
                             QWidget* parent)
    : QDialog(parent)
    , services_(services)
    , helpPage_(std::move(helpPage)) {
    setObjectName("frmWaterMark");
    setWindowTitle("Water Mark");

    auto* body = new QGridLayout;
    body->setHorizontalSpacing(16);
    body->setVerticalSpacing(0);
    body->setContentsMargins(0, 0, 4, 0);
    body->addLayout(BuildPictureColumn(), 0, 0);
    body->addLayout(BuildLayerColumn(), 0, 1);
    body->addLayout(BuildTextStyleRow(), 1, 0);
    body->addLayout(BuildFontStyleBoxes(), 1, 1);
    body->setColumnStretch(1, 1);

    // The close button sits 4 pixels nearer the right edge than the rest.
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(16, 6, 12, 12);
    page->setSpacing(0);
    page->addLayout(MakeTitleRow(*this, "Watermark"));
    page->addSpacing(8);
    page->addLayout(body);
    page->addStretch(1);
    page->addLayout(BuildButtons());

    ConnectView();
    ConnectLayerControls();
    ConnectTextControls();
    preview_ = std::make_unique<TPreviewPlayer>(
        *pan1_, settings,
        TPreviewPlayer::TControls{.Play = btnPlay_, .Pause = btnPause_, .SeekBar = trcPreview_});
    ConnectPreview();
    resize(QSize(kWidth, kHeight).expandedTo(sizeHint()));
}

QBoxLayout* TfrmWaterMark::BuildPictureColumn() {
    imgView_ = new TLayerView;
    imgView_->setObjectName("ImgView");
    imgView_->setFixedSize(kViewWidth, kViewHeight);

    // The player plays into this hidden panel, of the view's size; the view shows the pictures the
    // hook hands over.
    pan1_ = new TPreviewPanel(this);
    pan1_->setObjectName("pan1");
    pan1_->resize(kViewWidth, kViewHeight);
    pan1_->hide();

    trcPreview_ = new TTrackBar2;
    trcPreview_->setObjectName("trcPreview");
    trcPreview_->setFixedSize(kViewWidth, 22);
    MakeHostDrawnBar(*trcPreview_);

    btnPlay_ = MakeImageButton(this, "imgbtnPlay", "Play", skin::TButtonPicture::Play);
    btnPause_ = MakeImageButton(this, "imgbtnpause", "Pause", skin::TButtonPicture::Pause);
    lblTime_ = new QLabel("00:00:00");
    lblTime_->setObjectName("lblTime");
    lblTime_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblTime_->setMinimumWidth(70);
    auto* separator = new QLabel("/");
    separator->setAlignment(Qt::AlignCenter);
    separator->setMinimumWidth(14);
    lblPTS_ = new QLabel("00:00:00");
    lblPTS_->setObjectName("lblPTS");
    lblPTS_->setMinimumWidth(70);

    auto* transport = new QHBoxLayout;
    transport->setSpacing(0);
    transport->addWidget(btnPlay_);
    transport->addSpacing(4);
    transport->addWidget(btnPause_);
    transport->addSpacing(12);
    transport->addWidget(lblTime_);
    transport->addWidget(separator);
    transport->addWidget(lblPTS_);
    transport->addStretch(1);

    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(imgView_);
    column->addSpacing(8);
    column->addWidget(trcPreview_);
    column->addSpacing(6);
    column->addLayout(transport);
    column->addStretch(1);
    return column;
}

QBoxLayout* TfrmWaterMark::BuildLayerColumn() {
    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    column->addLayout(BuildLayerButtons());
    column->addSpacing(6);
    column->addLayout(BuildLayerList());
    column->addSpacing(10);
    column->addLayout(BuildPlaceBars());
    column->addSpacing(6);
    column->addLayout(BuildTimeRange());
    column->addStretch(1);
    return column;
}

QBoxLayout* TfrmWaterMark::BuildLayerButtons() {
    btnAddText_ = Button("Add Text", 86, 26);
    btnAddImage_ = Button("Add Image", 86, 26);
    btnDelete_ = Button("Delete", 0, 26); // takes the rest of the row
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    row->addWidget(btnAddText_);
    row->addWidget(btnAddImage_);
    row->addWidget(btnDelete_, 1);
    return row;
}

QBoxLayout* TfrmWaterMark::BuildLayerList() {
    lsbox_ = new QListWidget;
    lsbox_->setObjectName("lsbox");
    // The list takes the room the buttons leave it, not the width it would like.
    lsbox_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    lsbox_->setMinimumWidth(198);
    lsbox_->setFixedHeight(122);
    lsbox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lsbox_->setItemDelegate(new TLayerListDelegate(lsbox_));
    lsbox_->setUniformItemSizes(true);
    edtText_ = new QLineEdit(lsbox_->viewport());
    edtText_->setObjectName("edtText");
    QFont editorFont = edtText_->font();
    editorFont.setPointSize(11);
    edtText_->setFont(editorFont);
    edtText_->hide();

    btnUp_ = Button("Up", 58, 26);
    btnDown_ = Button("Down", 58, 26);
    auto* order = new QVBoxLayout;
    order->setSpacing(4);
    order->addWidget(btnUp_);
    order->addWidget(btnDown_);
    order->addStretch(1);

    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(lsbox_, 1);
    row->addLayout(order);
    return row;
}

// A caption over each bar, and a field with the bar's number at its right.
QBoxLayout* TfrmWaterMark::BuildPlaceBars() {
    const struct {
        const char* Caption;
        TTrackBar2** Bar;
        const char* BarName;
        QLineEdit** Field;
        const char* FieldName;
    } bars[] = {{"Horizontal Position:", &trcHorz_, "trcHorz", &edtHorz_, "edtHorz"},
                {"Vertical Position:", &trcVert_, "trcVert", &edtVert_, "edtVert"},
                {"Transparency:", &trcAlpha_, "trcAlpha", &edtAlpha_, "edtAlpha"}};
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    for (const auto& bar : bars) {
        auto* label = new QLabel(bar.Caption);
        label->setMinimumHeight(18);
        *bar.Bar = new TTrackBar2;
        (*bar.Bar)->setObjectName(bar.BarName);
        (*bar.Bar)->setMinimumWidth(202);
        (*bar.Bar)->setFixedHeight(24);
        (*bar.Bar)->SetMax(100);
        *bar.Field = NumberField(bar.FieldName, 54, 22, "00000");
        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        row->addWidget(*bar.Bar, 1);
        row->addWidget(*bar.Field);
        auto* block = new QVBoxLayout;
        block->setSpacing(0);
        block->addWidget(label);
        block->addLayout(row);
        column->addLayout(block);
    }
    trcAlpha_->SetMax(255);
    return column;
}

// The range bar with its two thumbs, and the start and end times with arrows that step them.
QBoxLayout* TfrmWaterMark::BuildTimeRange() {
    auto* rangeLabel = new QLabel("Set the period of time when a watermark will be \r\nshow in the video");
    QFont smaller = rangeLabel->font();
    smaller.setPointSizeF(smaller.pointSizeF() * 0.85);
    rangeLabel->setFont(smaller);
    rangeLabel->setMinimumHeight(34);
    trcRange_ = new TTrackBar2;
    trcRange_->setObjectName("trcRange");
    trcRange_->setFixedHeight(24);
    trcRange_->SetSecondThumb(true);

    const struct {
        const char* Caption;
        QLineEdit** Field;
        const char* Name;
    } fields[] = {{"Start time:", &edtStart_, "edtStart"}, {"End Time:", &edtEnd_, "edtEnd"}};
    auto* times = new QGridLayout;
    times->setHorizontalSpacing(4);
    times->setVerticalSpacing(6);
    times->setColumnMinimumWidth(0, 80);
    times->setColumnStretch(3, 1);
    int arrow = 0;
    for (int row = 0; row < 2; ++row) {
        const auto& field = fields[row];
        times->addWidget(new QLabel(field.Caption), row, 0);
        *field.Field = NumberField(field.Name, 90, 24, "00:00:00");
        (*field.Field)->setAlignment(Qt::AlignLeft);
        times->addWidget(*field.Field, row, 1);
        auto* arrows = new QVBoxLayout;
        arrows->setSpacing(0);
        for (const bool up : {true, false}) {
            auto* button = new QToolButton;
            button->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
            button->setFixedSize(20, 12);
            arrows->addWidget(button);
            rangeArrows_[arrow++] = button;
        }
        times->addLayout(arrows, row, 2, Qt::AlignVCenter);
    }

    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(rangeLabel);
    column->addSpacing(2);
    column->addWidget(trcRange_);
    column->addSpacing(6);
    column->addLayout(times);
    return column;
}

// The background choice in its group, then the font colour, font and size lists.
QBoxLayout* TfrmWaterMark::BuildTextStyleRow() {
    auto* group = new QGroupBox("Font background color");
    group->setMinimumSize(290, 84);
    group->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    rbBackColor_ = new QRadioButton("Background color");
    rbTransparent_ = new QRadioButton("Transparent");
    cmbBackColor_ = ListBox("cmbBackColor", 130, 8);
    FillColorList(*cmbBackColor_);
    auto* choice = new QGridLayout(group);
    // The group's frame adds its own few pixels to these.
    choice->setContentsMargins(7, 4, 7, 6);
    choice->setHorizontalSpacing(0);
    choice->setVerticalSpacing(6);
    choice->setColumnMinimumWidth(0, 140);
    choice->addWidget(rbBackColor_, 0, 0);
    choice->addWidget(cmbBackColor_, 0, 1);
    choice->addWidget(rbTransparent_, 1, 0);

    const struct {
        const char* Caption;
        QComboBox** List;
        const char* Name;
        int Width;
        int Characters;
    } lists[] = {{"Font Color:", &cmbFontColor_, "cmbFontColor", 190, 12},
                 {"Font:", &cmbFont_, "cmbFont", 190, 12},
                 {"Font Size:", &cmbSize_, "cmbSize", 70, 2}};
    auto* fonts = new QGridLayout;
    fonts->setContentsMargins(0, 4, 0, 0);
    fonts->setHorizontalSpacing(2);
    fonts->setVerticalSpacing(6);
    fonts->setColumnMinimumWidth(0, 84);
    for (int row = 0; row < 3; ++row) {
        const auto& list = lists[row];
        auto* label = new QLabel(list.Caption);
        label->setMinimumHeight(24);
        fonts->addWidget(label, row, 0);
        *list.List = ListBox(list.Name, list.Width, list.Characters);
        fonts->addWidget(*list.List, row, 1, Qt::AlignLeft);
    }
    FillColorList(*cmbFontColor_);
    cmbFont_->addItems(QFontDatabase::families());
    cmbFont_->setMaxVisibleItems(16);

    auto* row = new QHBoxLayout;
    row->setSpacing(16);
    row->addWidget(group, 0, Qt::AlignTop);
    row->addLayout(fonts);
    row->addStretch(1);
    return row;
}

QBoxLayout* TfrmWaterMark::BuildFontStyleBoxes() {
    const struct {
        const char* Caption;
        QCheckBox** Box;
        int Row;
        int Column;
    } boxes[] = {{"Bold", &chkBold_, 0, 0},
                 {"Italic", &chkItalic_, 0, 1},
                 {"Underline", &chkUnderline_, 1, 0},
                 {"Strikeout", &chkStrikeOut_, 1, 1}};
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(2);
    grid->setVerticalSpacing(4);
    for (const auto& box : boxes) {
        *box.Box = new QCheckBox(box.Caption);
        (*box.Box)->setMinimumSize(88, 22);
        grid->addWidget(*box.Box, box.Row, box.Column);
    }
    grid->setColumnStretch(2, 1);

    auto* styleLabel = new QLabel("Font Style:");
    styleLabel->setMinimumHeight(24);
    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    column->addSpacing(4);
    column->addWidget(styleLabel);
    column->addSpacing(2);
    column->addLayout(grid);
    column->addStretch(1);
    return column;
}

QBoxLayout* TfrmWaterMark::BuildButtons() {
    auto* help = Button("&Help", 88, 28);
    auto* ok = Button("Ok", 88, 28);
    auto* cancel = Button("Cancel", 88, 28);
    connect(help, &QPushButton::clicked, this, &TfrmWaterMark::HelpClick);
    connect(ok, &QPushButton::clicked, this, &TfrmWaterMark::OkClick);
    connect(cancel, &QPushButton::clicked, this, &TfrmWaterMark::CancelClick);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 4, 0);
    row->setSpacing(8);
    row->addWidget(help);
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

} // namespace tarnel
