#include "WatermarkDialog.h"

#include "TrackBar2.h"
#include "core/ShellServices.h"
#include "preview/PreviewPlayer.h"
#include "render/FrameHookRenderer.h"
#include "skin/SkinPictures.h"
#include "widgets/DialogBars.h"
#include "widgets/FileListView.h"
#include "widgets/LayerView.h"
#include "widgets/PreviewPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <algorithm>
#include <cmath>

namespace tarnel {

namespace {

constexpr int kWidth = 902;
constexpr int kHeight = 712;
constexpr int kViewLeft = 16;
constexpr int kViewTop = 40;
constexpr int kSide = 624; // left edge of the layer controls
constexpr int kSideWidth = kWidth - 16 - kSide;
constexpr int kDefaultSizeEntry = 19;      // "26"
constexpr int kDefaultFontColorEntry = 12; // blue
constexpr int kDefaultBackColorEntry = 2;  // green
constexpr int kDefaultTransparency = 125;
const QColor kCropOutline(0, 128, 0);

QColor ToQColor(TColor color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

TColor ToTColor(const QColor& color) {
    return RGBColor(static_cast<uint8_t>(color.red()), static_cast<uint8_t>(color.green()),
                    static_cast<uint8_t>(color.blue()));
}

int Rounded(qreal value) {
    return static_cast<int>(std::lround(value));
}

QIcon Swatch(const QColor& color) {
    QPixmap swatch(16, 12);
    swatch.fill(color);
    QPainter painter(&swatch);
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, 15, 11);
    return QIcon(swatch);
}

void FillColorList(QComboBox& list) {
    for (const auto& [name, color] : TfrmWaterMark::StandardColors())
        list.addItem(Swatch(color), name, color);
    const QPalette palette = QApplication::palette();
    const struct {
        const char* Name;
        QPalette::ColorRole Role;
    } system[] = {{"Window", QPalette::Window},
                  {"Window Text", QPalette::WindowText},
                  {"Base", QPalette::Base},
                  {"Text", QPalette::Text},
                  {"Button", QPalette::Button},
                  {"Button Text", QPalette::ButtonText},
                  {"Highlight", QPalette::Highlight},
                  {"Highlighted Text", QPalette::HighlightedText},
                  {"Tool Tip", QPalette::ToolTipBase},
                  {"Tool Tip Text", QPalette::ToolTipText}};
    for (const auto& entry : system)
        list.addItem(Swatch(palette.color(entry.Role)), entry.Name, palette.color(entry.Role));
}

QColor ListColor(const QComboBox& list) {
    return list.currentData().value<QColor>();
}

// Shows `color` in the list; a colour the list does not hold is added as a custom entry.
void ShowColor(QComboBox& list, TColor color) {
    const QColor wanted = ToQColor(color);
    for (int i = 0; i < list.count(); ++i)
        if (list.itemData(i).value<QColor>().rgb() == wanted.rgb()) {
            list.setCurrentIndex(i);
            return;
        }
    list.addItem(Swatch(wanted), "Custom", wanted);
    list.setCurrentIndex(list.count() - 1);
}

void ShowText(QComboBox& list, const QString& text) {
    int index = list.findText(text);
    if (index < 0) {
        list.addItem(text);
        index = list.count() - 1;
    }
    list.setCurrentIndex(index);
}

// The layer list's entries: the selected one on a light blue with a frame, the others on a near
// white; a marker tells text from picture, and the caption is cut with an ellipsis.
class TLayerListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QRect r = option.rect;
        painter->fillRect(r, selected ? ToQColor(15518905) : ToQColor(16316406));
        if (selected) {
            painter->setPen(ToQColor(14327930));
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

QLineEdit* NumberField(QWidget* parent, const char* name, const QRect& geometry) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setGeometry(geometry);
    field->setAlignment(Qt::AlignRight);
    return field;
}

} // namespace

const std::vector<std::pair<const char*, QColor>>& TfrmWaterMark::StandardColors() {
    static const std::vector<std::pair<const char*, QColor>> colors = {
        {"Black", QColor(0, 0, 0)},
        {"Maroon", QColor(128, 0, 0)},
        {"Green", QColor(0, 128, 0)},
        {"Olive", QColor(128, 128, 0)},
        {"Navy", QColor(0, 0, 128)},
        {"Purple", QColor(128, 0, 128)},
        {"Teal", QColor(0, 128, 128)},
        {"Gray", QColor(128, 128, 128)},
        {"Silver", QColor(192, 192, 192)},
        {"Red", QColor(255, 0, 0)},
        {"Lime", QColor(0, 255, 0)},
        {"Yellow", QColor(255, 255, 0)},
        {"Blue", QColor(0, 0, 255)},
        {"Fuchsia", QColor(255, 0, 255)},
        {"Aqua", QColor(0, 255, 255)},
        {"White", QColor(255, 255, 255)},
        {"Money Green", QColor(192, 220, 192)},
        {"Sky Blue", QColor(166, 202, 240)},
        {"Cream", QColor(255, 251, 240)},
        {"Medium Gray", QColor(160, 160, 164)}};
    return colors;
}

TfrmWaterMark::TfrmWaterMark(TMainSettings& settings, TShellServices& services, std::string helpPage,
                             QWidget* parent)
    : QDialog(parent)
    , services_(services)
    , helpPage_(std::move(helpPage)) {
    setObjectName("frmWaterMark");
    setWindowTitle("Water Mark");
    setFixedSize(kWidth, kHeight);
    BuildView();
    BuildLayerControls();
    BuildTextControls();
    BuildButtons();
    preview_ = std::make_unique<TPreviewPlayer>(
        *pan1_, settings,
        TPreviewPlayer::TControls{.Play = btnPlay_, .Pause = btnPause_, .SeekBar = trcPreview_});
    ConnectPreview();
}

TfrmWaterMark::~TfrmWaterMark() {
    CloseDown();
}

void TfrmWaterMark::ConnectPreview() {
    connect(btnPlay_, &QToolButton::clicked, preview_.get(), &TPreviewPlayer::Play);
    connect(preview_.get(), &TPreviewPlayer::Opened, this, &TfrmWaterMark::FileOpened);
    connect(preview_.get(), &TPreviewPlayer::PictureArrived, this, &TfrmWaterMark::PictureArrived);
    preview_->HandOverPictures(true);
    preview_->LoadLibraries();
}

int64_t TfrmWaterMark::DurationUs() const {
    return preview_->Duration();
}

// --- Building the window -----------------------------------------------------------------------

void TfrmWaterMark::BuildView() {
    MakeTitleHeader(*this, "Watermark", kViewLeft);

    imgView_ = new TLayerView(this);
    imgView_->setObjectName("ImgView");
    imgView_->setGeometry(kViewLeft, kViewTop, kViewWidth, kViewHeight);
    connect(imgView_, &TLayerView::LayerPressed, this, [this](TLayerItem& layer) {
        for (size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i]->Layer == &layer) {
                lsbox_->setCurrentRow(static_cast<int>(i));
                SelectEntry(static_cast<int>(i));
                return;
            }
    });
    connect(imgView_, &TLayerView::LayerDragged, this, [this](TLayerItem&) { ShowLayerPosition(); });
    connect(imgView_, &TLayerView::MouseMoved, this, [this] {
        if (imgView_->Selected())
            ShowLayerPosition();
    });

    // The player plays into this hidden panel; the view shows the pictures the hook hands over.
    pan1_ = new TPreviewPanel(this);
    pan1_->setObjectName("pan1");
    pan1_->setGeometry(kViewLeft, kViewTop, kViewWidth, kViewHeight);
    pan1_->hide();

    const int barTop = kViewTop + kViewHeight + 8;
    trcPreview_ = new TTrackBar2(this);
    trcPreview_->setObjectName("trcPreview");
    trcPreview_->setGeometry(kViewLeft, barTop, kViewWidth, 22);
    MakeHostDrawnBar(*trcPreview_);
    btnPlay_ =
        MakeImageButton(this, "imgbtnPlay", "Play", skin::TButtonPicture::Play, kViewLeft, barTop + 28);
    btnPause_ = MakeImageButton(this, "imgbtnpause", "Pause", skin::TButtonPicture::Pause, kViewLeft + 38,
                                barTop + 28);
    lblTime_ = new QLabel("00:00:00", this);
    lblTime_->setObjectName("lblTime");
    lblTime_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblTime_->setGeometry(kViewLeft + 84, barTop + 32, 70, 24);
    auto* separator = new QLabel("/", this);
    separator->setAlignment(Qt::AlignCenter);
    separator->setGeometry(kViewLeft + 154, barTop + 32, 14, 24);
    lblPTS_ = new QLabel("00:00:00", this);
    lblPTS_->setObjectName("lblPTS");
    lblPTS_->setGeometry(kViewLeft + 168, barTop + 32, 70, 24);
}

void TfrmWaterMark::BuildLayerControls() {
    btnAddText_ = new QPushButton("Add Text", this);
    btnAddText_->setGeometry(kSide, kViewTop, 86, 26);
    btnAddImage_ = new QPushButton("Add Image", this);
    btnAddImage_->setGeometry(kSide + 90, kViewTop, 86, 26);
    btnDelete_ = new QPushButton("Delete", this);
    btnDelete_->setGeometry(kSide + 180, kViewTop, kSideWidth - 180, 26);
    connect(btnAddText_, &QPushButton::clicked, this, &TfrmWaterMark::AddTextClick);
    connect(btnAddImage_, &QPushButton::clicked, this, &TfrmWaterMark::AddImageClick);
    connect(btnDelete_, &QPushButton::clicked, this, &TfrmWaterMark::DeleteClick);

    lsbox_ = new QListWidget(this);
    lsbox_->setObjectName("lsbox");
    lsbox_->setGeometry(kSide, kViewTop + 32, kSideWidth - 64, 122);
    lsbox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lsbox_->setItemDelegate(new TLayerListDelegate(lsbox_));
    lsbox_->setUniformItemSizes(true);
    connect(lsbox_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { SelectEntry(lsbox_->row(item)); });
    connect(lsbox_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { OpenTextEditor(lsbox_->row(item)); });
    edtText_ = new QLineEdit(lsbox_->viewport());
    edtText_->setObjectName("edtText");
    QFont editorFont = edtText_->font();
    editorFont.setPointSize(11);
    edtText_->setFont(editorFont);
    edtText_->hide();
    connect(edtText_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (editorEntry_ < 0 || editorEntry_ >= static_cast<int>(entries_.size()))
            return;
        lsbox_->item(editorEntry_)->setText(text);
        entries_[static_cast<size_t>(editorEntry_)]->Rec.Text = text.toStdString();
        RebuildSelectedText();
    });
    connect(edtText_, &QLineEdit::editingFinished, this, &TfrmWaterMark::HideTextEditor);

    btnUp_ = new QPushButton("Up", this);
    btnUp_->setGeometry(kWidth - 16 - 58, kViewTop + 32, 58, 26);
    btnDown_ = new QPushButton("Down", this);
    btnDown_->setGeometry(kWidth - 16 - 58, kViewTop + 62, 58, 26);
    connect(btnUp_, &QPushButton::clicked, this, &TfrmWaterMark::UpClick);
    connect(btnDown_, &QPushButton::clicked, this, &TfrmWaterMark::DownClick);

    const struct {
        const char* Caption;
        TTrackBar2** Bar;
        const char* BarName;
        QLineEdit** Field;
        const char* FieldName;
    } bars[] = {{"Horizontal Position:", &trcHorz_, "trcHorz", &edtHorz_, "edtHorz"},
                {"Vertical Position:", &trcVert_, "trcVert", &edtVert_, "edtVert"},
                {"Transparency:", &trcAlpha_, "trcAlpha", &edtAlpha_, "edtAlpha"}};
    int y = kViewTop + 164;
    for (const auto& bar : bars) {
        auto* label = new QLabel(bar.Caption, this);
        label->setGeometry(kSide, y, kSideWidth, 18);
        *bar.Bar = new TTrackBar2(this);
        (*bar.Bar)->setObjectName(bar.BarName);
        (*bar.Bar)->setGeometry(kSide, y + 18, kSideWidth - 60, 24);
        (*bar.Bar)->SetMax(100);
        *bar.Field = NumberField(this, bar.FieldName, QRect(kWidth - 16 - 54, y + 19, 54, 22));
        y += 46;
    }
    trcAlpha_->SetMax(255);
    connect(trcHorz_, &TTrackBar2::Changed, this, [this] { PositionBarChanged(true); });
    connect(trcVert_, &TTrackBar2::Changed, this, [this] { PositionBarChanged(false); });
    connect(trcAlpha_, &TTrackBar2::Changed, this, [this] {
        edtAlpha_->setText(QString::number(trcAlpha_->PositionL()));
        if (TWmItemRec* entry = Selected())
            entry->Layer->SetMasterOpacity(trcAlpha_->PositionL());
    });

    auto* rangeLabel =
        new QLabel("Set the period of time when a watermark will be \r\nshow in the video", this);
    QFont smaller = rangeLabel->font();
    smaller.setPointSizeF(smaller.pointSizeF() * 0.85);
    rangeLabel->setFont(smaller);
    rangeLabel->setGeometry(kSide, y + 2, kSideWidth, 34);
    trcRange_ = new TTrackBar2(this);
    trcRange_->setObjectName("trcRange");
    trcRange_->setGeometry(kSide, y + 38, kSideWidth, 24);
    trcRange_->SetSecondThumb(true);
    connect(trcRange_, &TTrackBar2::Changed, this, &TfrmWaterMark::RangeChanged);
    y += 68;
    const struct {
        const char* Caption;
        QLineEdit** Field;
        const char* Name;
        int Y;
    } fields[] = {{"Start time:", &edtStart_, "edtStart", y}, {"End Time:", &edtEnd_, "edtEnd", y + 30}};
    int arrow = 0;
    for (const auto& field : fields) {
        auto* label = new QLabel(field.Caption, this);
        label->setGeometry(kSide, field.Y, 80, 24);
        *field.Field = NumberField(this, field.Name, QRect(kSide + 84, field.Y, 90, 24));
        (*field.Field)->setAlignment(Qt::AlignLeft);
        for (const bool up : {true, false}) {
            auto* button = new QToolButton(this);
            button->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
            button->setGeometry(kSide + 178, field.Y + (up ? 0 : 12), 20, 12);
            const bool lower = field.Field == &edtStart_;
            connect(button, &QToolButton::clicked, this, [this, up, lower] {
                const int step = up ? 1 : -1;
                if (lower)
                    trcRange_->SetPositionL(trcRange_->PositionL() + step);
                else
                    trcRange_->SetPositionU(trcRange_->PositionU() + step);
            });
            rangeArrows_[arrow++] = button;
        }
    }
}

void TfrmWaterMark::BuildTextControls() {
    const int top = kViewTop + kViewHeight + 68;
    auto* group = new QGroupBox("Font background color", this);
    group->setGeometry(kViewLeft, top, 290, 84);
    rbBackColor_ = new QRadioButton("Background color", group);
    rbBackColor_->setGeometry(10, 24, 140, 22);
    rbTransparent_ = new QRadioButton("Transparent", group);
    rbTransparent_->setGeometry(10, 52, 140, 22);
    cmbBackColor_ = new QComboBox(group);
    cmbBackColor_->setObjectName("cmbBackColor");
    cmbBackColor_->setGeometry(150, 23, 130, 24);
    FillColorList(*cmbBackColor_);
    connect(rbBackColor_, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            BackgroundOptionChosen(true);
    });
    connect(rbTransparent_, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            BackgroundOptionChosen(false);
    });
    connect(cmbBackColor_, &QComboBox::currentIndexChanged, this, [this] {
        if (TWmItemRec* entry = Selected(); entry && entry->Rec.Kind == 0) {
            entry->Rec.BackColor = ToTColor(ListColor(*cmbBackColor_));
            RebuildSelectedText();
        }
    });

    const int left = kViewLeft + 306;
    const struct {
        const char* Caption;
        QComboBox** List;
        const char* Name;
        int Y;
        int Width;
    } lists[] = {{"Font Color:", &cmbFontColor_, "cmbFontColor", top + 4, 190},
                 {"Font:", &cmbFont_, "cmbFont", top + 34, 190},
                 {"Font Size:", &cmbSize_, "cmbSize", top + 64, 70}};
    for (const auto& list : lists) {
        auto* label = new QLabel(list.Caption, this);
        label->setGeometry(left, list.Y, 84, 24);
        *list.List = new QComboBox(this);
        (*list.List)->setObjectName(list.Name);
        (*list.List)->setGeometry(left + 86, list.Y, list.Width, 24);
        connect(*list.List, &QComboBox::currentIndexChanged, this, &TfrmWaterMark::TextStyleChanged);
    }
    FillColorList(*cmbFontColor_);
    cmbFont_->addItems(QFontDatabase::families());
    cmbFont_->setMaxVisibleItems(16);

    auto* styleLabel = new QLabel("Font Style:", this);
    styleLabel->setGeometry(kSide, top + 4, 84, 24);
    const struct {
        const char* Caption;
        QCheckBox** Box;
        int X;
        int Y;
    } boxes[] = {{"Bold", &chkBold_, kSide, top + 30},
                 {"Italic", &chkItalic_, kSide + 90, top + 30},
                 {"Underline", &chkUnderline_, kSide, top + 56},
                 {"Strikeout", &chkStrikeOut_, kSide + 90, top + 56}};
    for (const auto& box : boxes) {
        *box.Box = new QCheckBox(box.Caption, this);
        (*box.Box)->setGeometry(box.X, box.Y, 88, 22);
        connect(*box.Box, &QCheckBox::toggled, this, &TfrmWaterMark::TextStyleChanged);
    }
}

void TfrmWaterMark::BuildButtons() {
    auto* help = new QPushButton("&Help", this);
    help->setGeometry(kViewLeft, kHeight - 40, 88, 28);
    auto* ok = new QPushButton("Ok", this);
    ok->setGeometry(kWidth - 16 - 184, kHeight - 40, 88, 28);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setGeometry(kWidth - 16 - 88, kHeight - 40, 88, 28);
    connect(help, &QPushButton::clicked, this, &TfrmWaterMark::HelpClick);
    connect(ok, &QPushButton::clicked, this, &TfrmWaterMark::OkClick);
    connect(cancel, &QPushButton::clicked, this, &TfrmWaterMark::CancelClick);
}

// --- Showing the dialog and opening the file -----------------------------------------------------

int TfrmWaterMark::Edit(TFileRow& row) {
    Load(row);
    return exec();
}

bool TfrmWaterMark::Load(TFileRow& row) {
    row_ = &row;
    imgView_->Select(nullptr);
    imgView_->RemoveAllLayers();
    entries_.clear();
    lsbox_->clear();
    rebuilt_ = false;
    for (TTrackBar2* bar : {trcHorz_, trcVert_}) {
        bar->SetMin(0);
        bar->SetMax(100);
    }
    if (cmbSize_->count() == 0)
        for (int size = 7; size <= 70; ++size)
            cmbSize_->addItem(QString::number(size));
    ApplyDefaults();
    if (!preview_->Open(row.Record().SourceFile)) {
        // The file no longer opens: the stored layers stay listed so that "Ok" keeps them.
        RebuildFromRecord();
        return false;
    }
    return true;
}

void TfrmWaterMark::ApplyDefaults() {
    const QSignalBlocker font(cmbFont_), size(cmbSize_), color(cmbFontColor_), back(cmbBackColor_),
        backOption(rbBackColor_), transparent(rbTransparent_);
    if (lsbox_->count() == 0) {
        cmbFont_->setCurrentIndex(0);
        cmbSize_->setCurrentIndex(kDefaultSizeEntry);
        cmbFontColor_->setCurrentIndex(kDefaultFontColorEntry);
        cmbBackColor_->setCurrentIndex(kDefaultBackColorEntry);
        trcAlpha_->SetPositionL(kDefaultTransparency);
        edtAlpha_->setText(QString::number(kDefaultTransparency));
        rbBackColor_->setChecked(true);
    }
    SetLayerControlsEnabled(lsbox_->count() > 0);
}

void TfrmWaterMark::FileOpened(int64_t duration, int frameWidth, int frameHeight) {
    const int64_t durationUs = std::max<int64_t>(0, duration);
    lblPTS_->setText(ClockText(std::llround(durationUs / 1e6)));
    trcRange_->SetMin(0);
    trcRange_->SetMax(static_cast<int>(durationUs / 1000000));
    trcRange_->SetPositionL(0);
    trcRange_->SetPositionU(trcRange_->Max());
    trcHorz_->SetMax(std::max(0, frameWidth));
    trcVert_->SetMax(std::max(0, frameHeight));
    imgView_->SetPictureSize(QSize(std::max(1, frameWidth), std::max(1, frameHeight)));
    RebuildFromRecord();
}

// Lists the row's stored layers, each with a view layer at its stored place, opacity and time.
void TfrmWaterMark::RebuildFromRecord() {
    if (rebuilt_ || !row_)
        return;
    rebuilt_ = true;
    for (const auto& stored : row_->Record().WaterMarks) {
        if (!stored)
            continue;
        auto entry = std::make_unique<TWmItemRec>();
        entry->Rec = *stored;
        const bool image = stored->Kind == 1;
        TWmItemRec& added =
            AddEntry(QString::fromStdString(image ? stored->ImageFile : stored->Text), std::move(entry));
        TWmRec& rec = added.Rec;
        if (!image) {
            added.Layer->SetLocation(QRectF(rec.TextLeft, rec.TextTop, rec.TextWidth, rec.TextHeight));
            PaintTextLayer(added);
            added.Layer->SetMasterOpacity(static_cast<int>(std::min<uint32_t>(rec.TextAlpha, 255)));
        } else {
            QImage picture(QString::fromStdString(rec.ImageFile));
            added.Layer->SetPicture(picture.convertToFormat(QImage::Format_RGB888));
            added.Layer->SetLocation(QRectF(rec.ImageLeft, rec.ImageTop, rec.ImageWidth, rec.ImageHeight));
            added.Layer->SetMasterOpacity(static_cast<int>(std::min<uint32_t>(rec.ImageAlpha, 255)));
        }
    }
    SetLayerControlsEnabled(!entries_.empty());
    if (!entries_.empty()) {
        const int last = static_cast<int>(entries_.size()) - 1;
        lsbox_->setCurrentRow(last);
        SelectEntry(last);
    }
}

TWmItemRec& TfrmWaterMark::AddEntry(const QString& caption, std::unique_ptr<TWmItemRec> entry) {
    entry->Layer = imgView_->AddLayer();
    auto* item = new QListWidgetItem(caption);
    item->setData(Qt::UserRole, entry->Rec.Kind == 1);
    lsbox_->addItem(item);
    entries_.push_back(std::move(entry));
    return *entries_.back();
}

// --- Pictures from the player ----------------------------------------------------------------------

void TfrmWaterMark::PictureArrived(QImage picture, int64_t pts) {
    picture = picture.convertToFormat(QImage::Format_RGB888);
    if (row_) {
        const TlvFilesRecord& record = row_->Record();
        QPainter painter(&picture);
        painter.setPen(QPen(kCropOutline, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.drawRect(
            QRect(QPoint(record.CropLeft, record.CropTop),
                  QPoint(picture.width() - record.CropRight, picture.height() - record.CropBottom)));
    }
    ShowPicture(picture, pts);
}

void TfrmWaterMark::ShowPicture(const QImage& picture, int64_t pts) {
    lblTime_->setText(ClockText(std::llround(pts / 1e6)));
    const int64_t second = pts / 1000000;
    for (const auto& entry : entries_)
        entry->Layer->setVisible(entry->Rec.StartSecond <= second && second <= entry->Rec.EndSecond);
    imgView_->SetBackground(picture);
}

// --- Layers --------------------------------------------------------------------------------------------

int TfrmWaterMark::SelectedEntry() const {
    const int row = lsbox_->currentRow();
    return row >= 0 && row < static_cast<int>(entries_.size()) ? row : -1;
}

TWmItemRec* TfrmWaterMark::Selected() {
    const int index = SelectedEntry();
    return index < 0 ? nullptr : entries_[static_cast<size_t>(index)].get();
}

TFontSpec TfrmWaterMark::FontFromControls() const {
    TFontSpec font;
    font.Name = cmbFont_->currentText().toStdString();
    font.Size = cmbSize_->currentText().toInt();
    font.Color = ToTColor(ListColor(*cmbFontColor_));
    font.Bold = chkBold_->isChecked();
    font.Italic = chkItalic_->isChecked();
    font.Underline = chkUnderline_->isChecked();
    font.StrikeOut = chkStrikeOut_->isChecked();
    return font;
}

// The text drawn anti-aliased in the font colour, over the background colour when the entry has one.
void TfrmWaterMark::PaintTextLayer(TWmItemRec& entry) {
    const TWmRec& rec = entry.Rec;
    const QSize natural = TFrameHookRenderer::TextExtent(rec.Font, rec.Text);
    std::optional<QColor> background;
    if (rec.BackOpaque)
        background = ToQColor(rec.BackColor);
    entry.Layer->SetText(QString::fromStdString(rec.Text), TFrameHookRenderer::LayerFont(rec.Font, true),
                         ToQColor(rec.Font.Color), background, QSizeF(natural));
}

void TfrmWaterMark::AddTextClick() {
    HideTextEditor();
    auto entry = std::make_unique<TWmItemRec>();
    TWmRec& rec = entry->Rec;
    rec.Kind = 0;
    rec.Text = "Add Text";
    rec.Font = FontFromControls();
    rec.TextAlpha = static_cast<uint32_t>(trcAlpha_->PositionL());
    rec.BackColor = ToTColor(ListColor(*cmbBackColor_));
    // Drawn with the background chosen now; selecting the entry then switches to "Transparent",
    // because a new text layer starts without a background.
    rec.BackOpaque = rbBackColor_->isChecked();
    rec.StartSecond = 0;
    rec.EndSecond = static_cast<int32_t>(DurationUs() / 1000000);
    TWmItemRec& added = AddEntry("Add Text", std::move(entry));
    const QSize size = TFrameHookRenderer::TextExtent(added.Rec.Font, added.Rec.Text);
    const QPointF centre = imgView_->VisibleCentre();
    added.Layer->SetLocation(QRectF(centre.x() - size.width() / 2.0, centre.y() - size.height() / 2.0,
                                    size.width(), size.height()));
    PaintTextLayer(added);
    added.Layer->SetMasterOpacity(trcAlpha_->PositionL());
    added.Rec.BackOpaque = false;
    const QRectF location = added.Layer->Location();
    added.Rec.TextLeft = Rounded(location.left());
    added.Rec.TextTop = Rounded(location.top());
    added.Rec.TextWidth = Rounded(location.width());
    added.Rec.TextHeight = Rounded(location.height());
    const int index = static_cast<int>(entries_.size()) - 1;
    lsbox_->setFocus();
    lsbox_->setCurrentRow(index);
    SetLayerControlsEnabled(true);
    SelectEntry(index);
    OpenTextEditor(index);
}

void TfrmWaterMark::AddImageClick() {
    HideTextEditor();
    const std::vector<std::string> chosen =
        services_.ChooseFilesToOpen({{"Bitmap files (*.bmp)", "*.bmp"},
                                     {"Pictures (*.bmp;*.png;*.jpg;*.jpeg)", "*.bmp;*.png;*.jpg;*.jpeg"}});
    if (chosen.empty())
        return;
    const std::string& file = chosen.front();
    const QImage picture(QString::fromStdString(file));
    if (picture.isNull()) {
        services_.ShowMessage("Cannot read the picture " + file, "Warning", TMessageIcon::Warning);
        return;
    }
    auto entry = std::make_unique<TWmItemRec>();
    entry->Rec.Kind = 1;
    entry->Rec.ImageFile = file;
    TWmItemRec& added = AddEntry(QString::fromStdString(file), std::move(entry));
    added.Layer->SetPicture(picture.convertToFormat(QImage::Format_RGB888));
    const QPointF centre = imgView_->VisibleCentre();
    added.Layer->SetLocation(QRectF(centre.x() - picture.width() / 2.0, centre.y() - picture.height() / 2.0,
                                    picture.width(), picture.height()));
    added.Layer->SetMasterOpacity(trcAlpha_->PositionL());
    TWmRec& rec = added.Rec;
    const QRectF location = added.Layer->Location();
    rec.ImageLeft = Rounded(location.left());
    rec.ImageTop = Rounded(location.top());
    rec.ImageWidth = Rounded(location.width());
    rec.ImageHeight = Rounded(location.height());
    rec.ImageAlpha = static_cast<uint32_t>(trcAlpha_->PositionL());
    rec.StartSecond = 0;
    rec.EndSecond = static_cast<int32_t>(DurationUs() / 1000000);
    const int index = static_cast<int>(entries_.size()) - 1;
    lsbox_->setFocus();
    lsbox_->setCurrentRow(index);
    SetLayerControlsEnabled(true);
    SelectEntry(index);
}

void TfrmWaterMark::DeleteClick() {
    HideTextEditor();
    const int index = SelectedEntry();
    if (index < 0)
        return;
    imgView_->Select(nullptr);
    imgView_->RemoveLayer(entries_[static_cast<size_t>(index)]->Layer);
    entries_.erase(entries_.begin() + index);
    delete lsbox_->takeItem(index);
    if (entries_.empty()) {
        lsbox_->setCurrentRow(-1);
        SetLayerControlsEnabled(false);
        return;
    }
    const int next = std::max(0, index - 1);
    lsbox_->setCurrentRow(next);
    SelectEntry(next);
}

void TfrmWaterMark::UpClick() {
    HideTextEditor();
    const int index = SelectedEntry();
    if (index <= 0)
        return;
    std::swap(entries_[static_cast<size_t>(index)], entries_[static_cast<size_t>(index - 1)]);
    lsbox_->insertItem(index - 1, lsbox_->takeItem(index));
    lsbox_->setCurrentRow(index - 1);
    imgView_->SetLayerIndex(entries_[static_cast<size_t>(index - 1)]->Layer, index - 1);
}

void TfrmWaterMark::DownClick() {
    HideTextEditor();
    const int index = SelectedEntry();
    if (index < 0 || index + 1 >= static_cast<int>(entries_.size()))
        return;
    std::swap(entries_[static_cast<size_t>(index)], entries_[static_cast<size_t>(index + 1)]);
    lsbox_->insertItem(index + 1, lsbox_->takeItem(index));
    lsbox_->setCurrentRow(index + 1);
    imgView_->SetLayerIndex(entries_[static_cast<size_t>(index + 1)]->Layer, index + 1);
}

void TfrmWaterMark::SetLayerControlsEnabled(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{trcHorz_, trcVert_, trcAlpha_, trcRange_,
                                                            btnDelete_, btnUp_, btnDown_})
        control->setEnabled(enabled);
    for (QToolButton* arrow : rangeArrows_)
        arrow->setEnabled(enabled);
    SetTextControlsEnabled(enabled);
}

void TfrmWaterMark::SetTextControlsEnabled(bool enabled) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{rbBackColor_, rbTransparent_, cmbFontColor_, cmbFont_, cmbSize_,
                                         chkBold_, chkItalic_, chkUnderline_, chkStrikeOut_})
        control->setEnabled(enabled);
    cmbBackColor_->setEnabled(enabled && rbBackColor_->isChecked());
}

void TfrmWaterMark::SelectEntry(int index) {
    HideTextEditor();
    if (index < 0 || index >= static_cast<int>(entries_.size()))
        return;
    if (lsbox_->currentRow() != index)
        lsbox_->setCurrentRow(index);
    TWmItemRec& entry = *entries_[static_cast<size_t>(index)];
    imgView_->Select(entry.Layer);
    ShowEntrySettings(entry);
}

void TfrmWaterMark::ShowEntrySettings(TWmItemRec& entry) {
    const QRectF location = entry.Layer->Location();
    trcHorz_->SetPositionL(Rounded(location.left()));
    trcVert_->SetPositionL(Rounded(location.top()));
    edtHorz_->setText(QString::number(trcHorz_->PositionL()));
    edtVert_->setText(QString::number(trcVert_->PositionL()));
    trcAlpha_->SetPositionL(entry.Layer->MasterOpacity());
    edtAlpha_->setText(QString::number(trcAlpha_->PositionL()));
    {
        // Showing the entry's seconds is not choosing them.
        const QSignalBlocker quiet(trcRange_);
        trcRange_->SetPositionU(trcRange_->Max());
        trcRange_->SetPositionL(entry.Rec.StartSecond);
        trcRange_->SetPositionU(entry.Rec.EndSecond);
    }
    edtStart_->setText(ClockText(entry.Rec.StartSecond));
    edtEnd_->setText(ClockText(entry.Rec.EndSecond));
    if (entry.Rec.Kind == 1) {
        SetTextControlsEnabled(false);
        return;
    }
    SetTextControlsEnabled(true);
    {
        const QSignalBlocker back(cmbBackColor_), color(cmbFontColor_), size(cmbSize_), font(cmbFont_),
            bold(chkBold_), italic(chkItalic_), underline(chkUnderline_), strike(chkStrikeOut_);
        const TFontSpec& spec = entry.Rec.Font;
        ShowColor(*cmbBackColor_, entry.Rec.BackColor);
        ShowColor(*cmbFontColor_, spec.Color);
        ShowText(*cmbSize_, QString::number(spec.Size));
        ShowText(*cmbFont_, QString::fromStdString(spec.Name));
        chkBold_->setChecked(spec.Bold);
        chkItalic_->setChecked(spec.Italic);
        chkUnderline_->setChecked(spec.Underline);
        chkStrikeOut_->setChecked(spec.StrikeOut);
    }
    // Choosing the option here runs its handler when it changes, as the person's choice would.
    QRadioButton* option = entry.Rec.BackOpaque ? rbBackColor_ : rbTransparent_;
    if (!option->isChecked())
        option->setChecked(true);
    cmbBackColor_->setEnabled(rbBackColor_->isChecked());
}

// The position bars follow the selected layer while the mouse moves it.
void TfrmWaterMark::ShowLayerPosition() {
    TWmItemRec* entry = Selected();
    if (!entry || imgView_->Selected() != entry->Layer)
        return;
    const QRectF location = entry->Layer->Location();
    {
        const QSignalBlocker horizontal(trcHorz_), vertical(trcVert_);
        trcHorz_->SetPositionL(Rounded(location.left()));
        trcVert_->SetPositionL(Rounded(location.top()));
    }
    edtHorz_->setText(QString::number(trcHorz_->PositionL()));
    edtVert_->setText(QString::number(trcVert_->PositionL()));
}

// Keeps the layer's left and top and its opacity; the size follows the text in its new font.
void TfrmWaterMark::RebuildSelectedText() {
    TWmItemRec* entry = Selected();
    if (!entry || entry->Rec.Kind != 0)
        return;
    const QRectF old = entry->Layer->Location();
    const QSize size = TFrameHookRenderer::TextExtent(entry->Rec.Font, entry->Rec.Text);
    entry->Layer->SetLocation(QRectF(old.left(), old.top(), size.width(), size.height()));
    PaintTextLayer(*entry);
    imgView_->UpdateSelectionFrame();
}

void TfrmWaterMark::BackgroundOptionChosen(bool opaque) {
    cmbBackColor_->setEnabled(opaque && rbBackColor_->isEnabled());
    TWmItemRec* entry = Selected();
    if (!entry || entry->Rec.Kind != 0)
        return;
    entry->Rec.BackOpaque = opaque;
    RebuildSelectedText();
}

// A font, size, colour or style chosen for the selected text layer.
void TfrmWaterMark::TextStyleChanged() {
    TWmItemRec* entry = Selected();
    if (!entry || entry->Rec.Kind != 0)
        return;
    const int oldSize = entry->Rec.Font.Size;
    entry->Rec.Font = FontFromControls();
    RebuildSelectedText();
    if (entry->Rec.Font.Size != oldSize)
        PositionBarChanged(true);
}

// Moves the selected layer's left (or top) edge to the bar's position, keeping its size; a layer
// whose edge lies outside the bar's range stays where it is.
void TfrmWaterMark::PositionBarChanged(bool horizontal) {
    TTrackBar2& bar = horizontal ? *trcHorz_ : *trcVert_;
    (horizontal ? edtHorz_ : edtVert_)->setText(QString::number(bar.PositionL()));
    TWmItemRec* entry = Selected();
    if (!entry)
        return;
    const QRectF location = entry->Layer->Location();
    const qreal edge = horizontal ? location.left() : location.top();
    if (edge < bar.Min() || edge > bar.Max())
        return;
    const qreal shift = bar.PositionL() - edge;
    entry->Layer->SetLocation(location.translated(horizontal ? shift : 0, horizontal ? 0 : shift));
    imgView_->UpdateSelectionFrame();
}

void TfrmWaterMark::RangeChanged() {
    TWmItemRec* entry = Selected();
    if (!entry)
        return;
    entry->Rec.StartSecond = trcRange_->PositionL();
    entry->Rec.EndSecond = trcRange_->PositionU();
    edtStart_->setText(ClockText(entry->Rec.StartSecond));
    edtEnd_->setText(ClockText(entry->Rec.EndSecond));
}

// --- The in-place text editor ---------------------------------------------------------------------

void TfrmWaterMark::OpenTextEditor(int index) {
    if (index < 0 || index >= static_cast<int>(entries_.size()) ||
        entries_[static_cast<size_t>(index)]->Rec.Kind != 0)
        return;
    const QRect entryRect = lsbox_->visualItemRect(lsbox_->item(index));
    editorEntry_ = index;
    edtText_->setGeometry(21, entryRect.top() + 2, lsbox_->width() - 25, 20);
    edtText_->setText(lsbox_->item(index)->text());
    edtText_->show();
    edtText_->setFocus();
    edtText_->selectAll();
}

void TfrmWaterMark::HideTextEditor() {
    editorEntry_ = -1;
    if (edtText_->isVisible())
        edtText_->hide();
}

// --- Ok, Cancel and Help ----------------------------------------------------------------------------

void TfrmWaterMark::OkClick() {
    HideTextEditor();
    if (row_) {
        std::vector<std::unique_ptr<TWmRec>>& stored = row_->Record().WaterMarks;
        stored.clear();
        for (const auto& entry : entries_) {
            auto layer = std::make_unique<TWmRec>();
            const QRectF location = entry->Layer->Location();
            const int alpha = entry->Layer->MasterOpacity();
            if (entry->Rec.Kind == 1) {
                layer->ImageFile = entry->Rec.ImageFile;
                layer->ImageLeft = Rounded(location.left());
                layer->ImageTop = Rounded(location.top());
                layer->ImageWidth = Rounded(location.width());
                layer->ImageHeight = Rounded(location.height());
                layer->ImageAlpha = static_cast<uint32_t>(alpha);
                layer->Kind = 1;
            } else {
                layer->Text = entry->Rec.Text;
                layer->TextLeft = Rounded(location.left());
                layer->TextTop = Rounded(location.top());
                layer->TextWidth = Rounded(location.width());
                layer->TextHeight = Rounded(location.height());
                layer->TextAlpha = static_cast<uint32_t>(alpha);
                layer->Kind = 0;
                layer->Font = entry->Rec.Font;
                layer->BackColor = entry->Rec.BackColor;
                layer->BackOpaque = entry->Rec.BackOpaque;
            }
            layer->StartSecond = entry->Rec.StartSecond;
            layer->EndSecond = entry->Rec.EndSecond;
            stored.push_back(std::move(layer));
        }
    }
    accept();
}

void TfrmWaterMark::CancelClick() {
    reject();
}

void TfrmWaterMark::HelpClick() {
    services_.OpenUrl(helpPage_);
}

void TfrmWaterMark::done(int result) {
    CloseDown();
    QDialog::done(result);
}

// The player is closed, waiting for its threads, before the layers go.
void TfrmWaterMark::CloseDown() {
    preview_->Stop();
    HideTextEditor();
    imgView_->Select(nullptr);
    imgView_->RemoveAllLayers();
    entries_.clear();
    lsbox_->clear();
}

} // namespace tarnel
