#include "WatermarkDialog.h"

#include "TrackBar2.h"
#include "core/ShellServices.h"
#include "preview/PreviewPlayer.h"
#include "render/FrameHookRenderer.h"
#include "widgets/DialogBars.h"
#include "widgets/FileListView.h"
#include "widgets/LayerView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <algorithm>
#include <cmath>

namespace tarnel {

namespace {

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

// A picture layer's image as the view draws it: with its alpha channel when the file has one.
QImage ViewPicture(const QImage& picture) {
    return picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB888);
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

QStringList FontFamilies(const QComboBox& list) {
    QStringList families;
    for (int i = 0; i < list.count(); ++i)
        families << list.itemText(i);
    return families;
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

// Where the view layer lies, rounded to picture pixels, and its opacity.
TLayerPlace PlaceOfItem(const TLayerItem& item) {
    const QRectF location = item.Location();
    return {Rounded(location.left()), Rounded(location.top()), Rounded(location.width()),
            Rounded(location.height()), static_cast<uint32_t>(item.MasterOpacity())};
}

QRectF Location(const TLayerPlace& place) {
    return QRectF(place.Left, place.Top, place.Width, place.Height);
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

void TfrmWaterMark::FillColorList(QComboBox& list) {
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

// --- Wiring the controls -----------------------------------------------------------------------

void TfrmWaterMark::ConnectView() {
    connect(imgView_, &TLayerView::LayerPressed, this, [this](TLayerItem& layer) {
        const auto found = std::find(items_.begin(), items_.end(), &layer);
        if (found == items_.end())
            return;
        const int index = static_cast<int>(found - items_.begin());
        lsbox_->setCurrentRow(index);
        SelectEntry(index);
    });
    connect(imgView_, &TLayerView::LayerDragged, this, [this](TLayerItem&) { ShowLayerPosition(); });
    connect(imgView_, &TLayerView::MouseMoved, this, [this] {
        if (imgView_->Selected())
            ShowLayerPosition();
    });
}

void TfrmWaterMark::ConnectLayerControls() {
    connect(btnAddText_, &QPushButton::clicked, this, &TfrmWaterMark::AddTextClick);
    connect(btnAddImage_, &QPushButton::clicked, this, &TfrmWaterMark::AddImageClick);
    connect(btnDelete_, &QPushButton::clicked, this, &TfrmWaterMark::DeleteClick);
    connect(btnUp_, &QPushButton::clicked, this, &TfrmWaterMark::UpClick);
    connect(btnDown_, &QPushButton::clicked, this, &TfrmWaterMark::DownClick);

    // The list's current row is the selected layer, however it moves (clicks, keys, the buttons).
    connect(lsbox_, &QListWidget::currentRowChanged, this, [this](int row) { layers_.Select(row); });
    connect(lsbox_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { SelectEntry(lsbox_->row(item)); });
    connect(lsbox_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { OpenTextEditor(lsbox_->row(item)); });
    connect(edtText_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (editorEntry_ < 0 || editorEntry_ >= layers_.Count())
            return;
        lsbox_->item(editorEntry_)->setText(text);
        layers_.At(editorEntry_).Text = text.toStdString();
        RebuildSelectedText();
    });
    connect(edtText_, &QLineEdit::editingFinished, this, &TfrmWaterMark::HideTextEditor);

    connect(trcHorz_, &TTrackBar2::Changed, this, [this] { PositionBarChanged(true); });
    connect(trcVert_, &TTrackBar2::Changed, this, [this] { PositionBarChanged(false); });
    connect(trcAlpha_, &TTrackBar2::Changed, this, [this] {
        edtAlpha_->setText(QString::number(trcAlpha_->PositionL()));
        if (TLayerItem* item = SelectedItem())
            item->SetMasterOpacity(trcAlpha_->PositionL());
    });
    connect(trcRange_, &TTrackBar2::Changed, this, &TfrmWaterMark::RangeChanged);
    // The arrows step the start (the first two) or the end by a second.
    for (int arrow = 0; arrow < 4; ++arrow) {
        const int step = arrow % 2 == 0 ? 1 : -1;
        const bool start = arrow < 2;
        connect(rangeArrows_[arrow], &QToolButton::clicked, this, [this, step, start] {
            if (start)
                trcRange_->SetPositionL(trcRange_->PositionL() + step);
            else
                trcRange_->SetPositionU(trcRange_->PositionU() + step);
        });
    }
}

void TfrmWaterMark::ConnectTextControls() {
    connect(rbBackColor_, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            BackgroundOptionChosen(true);
    });
    connect(rbTransparent_, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            BackgroundOptionChosen(false);
    });
    connect(cmbBackColor_, &QComboBox::currentIndexChanged, this, [this] {
        if (TWmRec* text = SelectedText()) {
            text->BackColor = ToTColor(ListColor(*cmbBackColor_));
            RebuildSelectedText();
        }
    });
    for (QComboBox* list : {cmbFontColor_, cmbFont_, cmbSize_})
        connect(list, &QComboBox::currentIndexChanged, this, &TfrmWaterMark::TextStyleChanged);
    for (QCheckBox* box : {chkBold_, chkItalic_, chkUnderline_, chkStrikeOut_})
        connect(box, &QCheckBox::toggled, this, &TfrmWaterMark::TextStyleChanged);
}

// --- Showing the dialog and opening the file -----------------------------------------------------

int TfrmWaterMark::Edit(TFileRow& row) {
    Load(row);
    return exec();
}

bool TfrmWaterMark::Load(TFileRow& row) {
    row_ = &row;
    RemoveEntries();
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
        cmbFont_->setCurrentIndex(
            std::max(0, cmbFont_->findText(DefaultFontFamily(FontFamilies(*cmbFont_)))));
        cmbSize_->setCurrentIndex(kDefaultSizeEntry);
        cmbFontColor_->setCurrentIndex(kDefaultFontColorEntry);
        cmbBackColor_->setCurrentIndex(kDefaultBackColorEntry);
        trcAlpha_->SetPositionL(kDefaultTransparency);
        edtAlpha_->setText(QString::number(kDefaultTransparency));
        rbBackColor_->setChecked(true);
    }
    SetLayerControlsEnabled(lsbox_->count() > 0);
}

// The general font is named by an alias ("Sans Serif" on Linux) that the font list does not
// hold; the family it resolves to does.
QString TfrmWaterMark::DefaultFontFamily(const QStringList& families) {
    QFont sans;
    sans.setStyleHint(QFont::SansSerif);
    const QString candidates[] = {QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family(),
                                  sans.defaultFamily()};
    for (const QString& family : candidates)
        if (families.contains(family))
            return family;
    return families.value(0);
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
        const bool picture = KindOf(*stored) == TLayerKind::Picture;
        const int index =
            AddEntry(QString::fromStdString(picture ? stored->ImageFile : stored->Text), *stored);
        TLayerItem& item = *items_[static_cast<size_t>(index)];
        const TLayerPlace place = PlaceOf(*stored);
        const int opacity = static_cast<int>(std::min<uint32_t>(place.Alpha, 255));
        if (picture) {
            const QImage image(QString::fromStdString(stored->ImageFile));
            item.SetPicture(ViewPicture(image));
            item.SetLocation(Location(place));
        } else {
            item.SetLocation(Location(place));
            PaintTextLayer(index);
        }
        item.SetMasterOpacity(opacity);
    }
    SetLayerControlsEnabled(!layers_.Empty());
    if (!layers_.Empty()) {
        const int last = layers_.Count() - 1;
        lsbox_->setCurrentRow(last);
        SelectEntry(last);
    }
}

int TfrmWaterMark::AddEntry(const QString& caption, TWmRec layer) {
    const bool picture = KindOf(layer) == TLayerKind::Picture;
    const int index = layers_.Add(std::move(layer));
    items_.push_back(imgView_->AddLayer());
    auto* item = new QListWidgetItem(caption);
    item->setData(Qt::UserRole, picture);
    lsbox_->addItem(item);
    return index;
}

void TfrmWaterMark::RemoveEntries() {
    imgView_->Select(nullptr);
    imgView_->RemoveAllLayers();
    items_.clear();
    layers_.Clear();
    lsbox_->clear();
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
    const std::vector<bool> shown = layers_.ShownAt(pts);
    for (size_t i = 0; i < items_.size(); ++i)
        items_[i]->setVisible(shown[i]);
    imgView_->SetBackground(picture);
}

// --- Layers --------------------------------------------------------------------------------------------

TLayerItem* TfrmWaterMark::SelectedItem() {
    const int index = layers_.Selected();
    return index == TWatermarkLayers::kNone ? nullptr : items_[static_cast<size_t>(index)];
}

TWmRec* TfrmWaterMark::SelectedText() {
    TWmRec* layer = layers_.SelectedLayer();
    return layer && KindOf(*layer) == TLayerKind::Text ? layer : nullptr;
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

// The text drawn anti-aliased in the font colour, over the background colour when the layer has one.
void TfrmWaterMark::PaintTextLayer(int index) {
    const TWmRec& rec = layers_.At(index);
    const QSize natural = TFrameHookRenderer::TextExtent(rec.Font, rec.Text);
    std::optional<QColor> background;
    if (rec.BackOpaque)
        background = ToQColor(rec.BackColor);
    items_[static_cast<size_t>(index)]->SetText(QString::fromStdString(rec.Text),
                                                TFrameHookRenderer::LayerFont(rec.Font, true),
                                                ToQColor(rec.Font.Color), background, QSizeF(natural));
}

void TfrmWaterMark::AddTextClick() {
    HideTextEditor();
    TWmRec rec;
    rec.Kind = static_cast<uint32_t>(TLayerKind::Text);
    rec.Text = "Add Text";
    rec.Font = FontFromControls();
    rec.BackColor = ToTColor(ListColor(*cmbBackColor_));
    // Drawn with the background chosen now; selecting the entry then switches to "Transparent",
    // because a new text layer starts without a background.
    rec.BackOpaque = rbBackColor_->isChecked();
    rec.StartSecond = 0;
    rec.EndSecond = static_cast<int32_t>(DurationUs() / 1000000);
    const int index = AddEntry("Add Text", std::move(rec));
    TWmRec& added = layers_.At(index);
    TLayerItem& item = *items_[static_cast<size_t>(index)];
    const QSize size = TFrameHookRenderer::TextExtent(added.Font, added.Text);
    const QPointF centre = imgView_->VisibleCentre();
    item.SetLocation(QRectF(centre.x() - size.width() / 2.0, centre.y() - size.height() / 2.0, size.width(),
                            size.height()));
    PaintTextLayer(index);
    item.SetMasterOpacity(trcAlpha_->PositionL());
    added.BackOpaque = false;
    SetPlace(added, PlaceOfItem(item));
    SelectAddedEntry(index);
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
    TWmRec rec;
    rec.Kind = static_cast<uint32_t>(TLayerKind::Picture);
    rec.ImageFile = file;
    rec.StartSecond = 0;
    rec.EndSecond = static_cast<int32_t>(DurationUs() / 1000000);
    const int index = AddEntry(QString::fromStdString(file), std::move(rec));
    TLayerItem& item = *items_[static_cast<size_t>(index)];
    item.SetPicture(ViewPicture(picture));
    const QPointF centre = imgView_->VisibleCentre();
    item.SetLocation(QRectF(centre.x() - picture.width() / 2.0, centre.y() - picture.height() / 2.0,
                            picture.width(), picture.height()));
    item.SetMasterOpacity(trcAlpha_->PositionL());
    SetPlace(layers_.At(index), PlaceOfItem(item));
    SelectAddedEntry(index);
}

void TfrmWaterMark::SelectAddedEntry(int index) {
    lsbox_->setFocus();
    lsbox_->setCurrentRow(index);
    SetLayerControlsEnabled(true);
    SelectEntry(index);
}

void TfrmWaterMark::DeleteClick() {
    HideTextEditor();
    const int index = layers_.DeleteSelected();
    if (index == TWatermarkLayers::kNone)
        return;
    imgView_->Select(nullptr);
    imgView_->RemoveLayer(items_[static_cast<size_t>(index)]);
    items_.erase(items_.begin() + index);
    {
        const QSignalBlocker quiet(lsbox_);
        delete lsbox_->takeItem(index);
    }
    ShowSelectionInList();
    if (layers_.Empty()) {
        SetLayerControlsEnabled(false);
        return;
    }
    SelectEntry(layers_.Selected());
}

void TfrmWaterMark::UpClick() {
    HideTextEditor();
    const int from = layers_.Selected();
    MoveEntry(from, layers_.MoveSelectedUp());
}

void TfrmWaterMark::DownClick() {
    HideTextEditor();
    const int from = layers_.Selected();
    MoveEntry(from, layers_.MoveSelectedDown());
}

// Follows a move in the layers with the view layer and the list entry.
void TfrmWaterMark::MoveEntry(int from, int to) {
    if (to == TWatermarkLayers::kNone)
        return;
    std::swap(items_[static_cast<size_t>(from)], items_[static_cast<size_t>(to)]);
    {
        const QSignalBlocker quiet(lsbox_);
        lsbox_->insertItem(to, lsbox_->takeItem(from));
    }
    ShowSelectionInList();
    imgView_->SetLayerIndex(items_[static_cast<size_t>(to)], to);
}

void TfrmWaterMark::ShowSelectionInList() {
    lsbox_->setCurrentRow(layers_.Selected());
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
    if (index < 0 || index >= layers_.Count())
        return;
    if (lsbox_->currentRow() != index)
        lsbox_->setCurrentRow(index);
    imgView_->Select(items_[static_cast<size_t>(index)]);
    ShowEntrySettings(index);
}

void TfrmWaterMark::ShowEntrySettings(int index) {
    const TWmRec& rec = layers_.At(index);
    const TLayerItem& item = *items_[static_cast<size_t>(index)];
    const QRectF location = item.Location();
    trcHorz_->SetPositionL(Rounded(location.left()));
    trcVert_->SetPositionL(Rounded(location.top()));
    edtHorz_->setText(QString::number(trcHorz_->PositionL()));
    edtVert_->setText(QString::number(trcVert_->PositionL()));
    trcAlpha_->SetPositionL(item.MasterOpacity());
    edtAlpha_->setText(QString::number(trcAlpha_->PositionL()));
    {
        // Showing the layer's seconds is not choosing them.
        const QSignalBlocker quiet(trcRange_);
        trcRange_->SetPositionU(trcRange_->Max());
        trcRange_->SetPositionL(rec.StartSecond);
        trcRange_->SetPositionU(rec.EndSecond);
    }
    edtStart_->setText(ClockText(rec.StartSecond));
    edtEnd_->setText(ClockText(rec.EndSecond));
    if (KindOf(rec) == TLayerKind::Picture) {
        SetTextControlsEnabled(false);
        return;
    }
    SetTextControlsEnabled(true);
    ShowTextStyle(rec);
}

void TfrmWaterMark::ShowTextStyle(const TWmRec& rec) {
    {
        const QSignalBlocker back(cmbBackColor_), color(cmbFontColor_), size(cmbSize_), font(cmbFont_),
            bold(chkBold_), italic(chkItalic_), underline(chkUnderline_), strike(chkStrikeOut_);
        const TFontSpec& spec = rec.Font;
        ShowColor(*cmbBackColor_, rec.BackColor);
        ShowColor(*cmbFontColor_, spec.Color);
        ShowText(*cmbSize_, QString::number(spec.Size));
        ShowText(*cmbFont_, QString::fromStdString(spec.Name));
        chkBold_->setChecked(spec.Bold);
        chkItalic_->setChecked(spec.Italic);
        chkUnderline_->setChecked(spec.Underline);
        chkStrikeOut_->setChecked(spec.StrikeOut);
    }
    // Choosing the option here runs its handler when it changes, as the person's choice would.
    QRadioButton* option = rec.BackOpaque ? rbBackColor_ : rbTransparent_;
    if (!option->isChecked())
        option->setChecked(true);
    cmbBackColor_->setEnabled(rbBackColor_->isChecked());
}

// The position bars follow the selected layer while the mouse moves it.
void TfrmWaterMark::ShowLayerPosition() {
    TLayerItem* item = SelectedItem();
    if (!item || imgView_->Selected() != item)
        return;
    const QRectF location = item->Location();
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
    const TWmRec* text = SelectedText();
    if (!text)
        return;
    TLayerItem& item = *SelectedItem();
    const QRectF old = item.Location();
    const QSize size = TFrameHookRenderer::TextExtent(text->Font, text->Text);
    item.SetLocation(QRectF(old.left(), old.top(), size.width(), size.height()));
    PaintTextLayer(layers_.Selected());
    imgView_->UpdateSelectionFrame();
}

void TfrmWaterMark::BackgroundOptionChosen(bool opaque) {
    cmbBackColor_->setEnabled(opaque && rbBackColor_->isEnabled());
    TWmRec* text = SelectedText();
    if (!text)
        return;
    text->BackOpaque = opaque;
    RebuildSelectedText();
}

// A font, size, colour or style chosen for the selected text layer.
void TfrmWaterMark::TextStyleChanged() {
    TWmRec* text = SelectedText();
    if (!text)
        return;
    const int oldSize = text->Font.Size;
    text->Font = FontFromControls();
    RebuildSelectedText();
    if (text->Font.Size != oldSize)
        PositionBarChanged(true);
}

// Moves the selected layer's left (or top) edge to the bar's position, keeping its size; a layer
// whose edge lies outside the bar's range stays where it is.
void TfrmWaterMark::PositionBarChanged(bool horizontal) {
    TTrackBar2& bar = horizontal ? *trcHorz_ : *trcVert_;
    (horizontal ? edtHorz_ : edtVert_)->setText(QString::number(bar.PositionL()));
    TLayerItem* item = SelectedItem();
    if (!item)
        return;
    const QRectF location = item->Location();
    const qreal edge = horizontal ? location.left() : location.top();
    if (edge < bar.Min() || edge > bar.Max())
        return;
    const qreal shift = bar.PositionL() - edge;
    item->SetLocation(location.translated(horizontal ? shift : 0, horizontal ? 0 : shift));
    imgView_->UpdateSelectionFrame();
}

void TfrmWaterMark::RangeChanged() {
    TWmRec* layer = layers_.SelectedLayer();
    if (!layer)
        return;
    layer->StartSecond = trcRange_->PositionL();
    layer->EndSecond = trcRange_->PositionU();
    edtStart_->setText(ClockText(layer->StartSecond));
    edtEnd_->setText(ClockText(layer->EndSecond));
}

// --- The in-place text editor ---------------------------------------------------------------------

void TfrmWaterMark::OpenTextEditor(int index) {
    if (index < 0 || index >= layers_.Count() || KindOf(layers_.At(index)) != TLayerKind::Text)
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

// Stores the layers in the list's order, each where its view layer lies and as opaque as it is.
void TfrmWaterMark::OkClick() {
    HideTextEditor();
    if (row_) {
        for (int i = 0; i < layers_.Count(); ++i)
            SetPlace(layers_.At(i), PlaceOfItem(*items_[static_cast<size_t>(i)]));
        row_->Record().WaterMarks = layers_.ToRecords();
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
    RemoveEntries();
}

} // namespace tarnel
