#include "CropDialog.h"

#include "RectTracker.h"
#include "TrackBar2.h"
#include "core/FilesRecord.h"
#include "preview/PreviewPlayer.h"
#include "skin/SkinPictures.h"
#include "widgets/DialogBars.h"
#include "widgets/FileListView.h"
#include "widgets/PictureView.h"
#include "widgets/PreviewPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace tarnel {

namespace {

const QColor kPreviewBackground(166, 202, 240);
constexpr QSize kDesignedSize(902, 650);
constexpr int kFrameMargin = 12; // around the title row; the rest lies further in
constexpr int kBodyIndent = 8;
constexpr int kMinimumFrame = 10;

struct TEffectRow {
    const char* Caption;
    const char* Name;
    int Min;
    int Max;
    int Reset;
};
const TEffectRow kEffects[4] = {{"Brightness:", "Brightness", 0, 512, 255},
                                {"Contrast:", "Contrast", -100, 100, 0},
                                {"Saturation:", "Saturation", 0, 512, 255},
                                {"Exposure:", "Exposure", -255, 512, 0}};

QImage ImageOf(const TBitmap& bitmap) {
    return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.RowSize(), QImage::Format_BGR888);
}

// The picture's rows into the bitmap, which takes its size.
void CopyPicture(const QImage& picture, TBitmap& bitmap) {
    bitmap.SetSize(picture.width(), picture.height());
    const auto rowBytes = static_cast<size_t>(picture.width()) * TBitmap::kBytesPerPixel;
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(bitmap.ScanLine(y), picture.constScanLine(y), rowBytes);
}

QRect ToRect(const TBox& box) {
    return QRect(box.Left, box.Top, box.Width, box.Height);
}

TBox ToBox(const QRect& rect) {
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

// Stored margins that would leave less than the smallest frame are reduced until it fits.
TMargins FittingMargins(TMargins m, const TBox& picture) {
    m.Top = std::max(0, m.Top);
    m.Bottom = std::max(0, m.Bottom);
    m.Left = std::max(0, m.Left);
    m.Right = std::max(0, m.Right);
    const int spareHeight = std::max(0, picture.Height - kMinimumFrame);
    const int spareWidth = std::max(0, picture.Width - kMinimumFrame);
    if (m.Top + m.Bottom > spareHeight) {
        m.Top = std::min(m.Top, spareHeight);
        m.Bottom = spareHeight - m.Top;
    }
    if (m.Left + m.Right > spareWidth) {
        m.Left = std::min(m.Left, spareWidth);
        m.Right = spareWidth - m.Left;
    }
    return m;
}

} // namespace

TfrmCrop::TfrmCrop(TMainSettings& settings, QWidget* parent)
    : QDialog(parent) {
    setObjectName("frmCrop");
    setWindowTitle("Crop");
    auto* body = new QVBoxLayout;
    body->setContentsMargins(kBodyIndent, 0, kBodyIndent, 0);
    body->setSpacing(0);
    body->addLayout(BuildSourceRow());
    body->addSpacing(6);
    body->addLayout(BuildPreviews());
    body->addSpacing(9);
    body->addLayout(BuildPlayerControls());
    body->addSpacing(8);
    body->addWidget(BuildPages(), 1);
    body->addSpacing(10);
    body->addLayout(BuildButtons());

    QHBoxLayout* title = MakeTitleRow(*this, "Crop");
    title->insertSpacing(0, kBodyIndent);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(kFrameMargin, 6, kFrameMargin, 12);
    page->setSpacing(4);
    page->addLayout(title);
    page->addLayout(body, 1);
    // The designed size, or more when a larger font needs it. The previews keep their size, and the
    // layout is placed now: the crop frame is kept in form coordinates from the first file on.
    setFixedSize(kDesignedSize.expandedTo(sizeHint()));
    page->activate();

    preview_ = std::make_unique<TPreviewPlayer>(*pan1_, settings,
                                                TPreviewPlayer::TControls{.Play = btnPlay_,
                                                                          .Pause = btnPause_,
                                                                          .Stop = btnStop_,
                                                                          .SeekBar = trcPreview_,
                                                                          .VolumeBar = trcVolume_,
                                                                          .Mute = btnMute_});
    ConnectPreview();
}

TfrmCrop::~TfrmCrop() = default;

void TfrmCrop::ConnectPreview() {
    connect(btnPlay_, &QToolButton::clicked, preview_.get(), &TPreviewPlayer::Play);
    connect(preview_.get(), &TPreviewPlayer::Opened, this, [this](int64_t duration) {
        lblTime_->setText(PlayedClockText(0));
        lblPTS_->setText(ClockText(std::llround(duration / 1e6)));
    });
    connect(preview_.get(), &TPreviewPlayer::PositionChanged, this,
            [this](int64_t pts) { lblTime_->setText(PlayedClockText(std::llround(pts / 1e6))); });
    connect(preview_.get(), &TPreviewPlayer::StateChanged, this, [this](TPreviewState state) {
        if (state != TPreviewState::Closed)
            return;
        lblTime_->setText(PlayedClockText(0));
        lblPTS_->setText(ClockText(0));
    });
    connect(preview_.get(), &TPreviewPlayer::PictureArrived, this, [this](const QImage& picture) {
        latest_ = picture;
        RefreshPreviews();
    });
    preview_->HandOverPictures(true);
    preview_->LoadLibraries();
}

QHBoxLayout* TfrmCrop::BuildSourceRow() {
    auto* source = new QLabel("Source File:", this);
    source->setMinimumSize(80, 20);
    lblFileName_ = new QLabel(this);
    lblFileName_->setObjectName("lblFileName");
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    row->addWidget(source);
    row->addWidget(lblFileName_, 1);
    return row;
}

QHBoxLayout* TfrmCrop::BuildPreviews() {
    imgPreview_ = new TPictureView(kPreviewBackground, this);
    imgPreview_->setObjectName("imgPreview");
    imgPreview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    imgOutput_ = new TPictureView(kPreviewBackground, this);
    imgOutput_->setObjectName("imgOutput");
    imgOutput_->setFixedSize(kPreviewWidth, kPreviewHeight);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->addWidget(imgPreview_);
    row->addStretch(1);
    row->addWidget(imgOutput_);

    // The frame lies over the input preview, outside the layout, in form coordinates.
    tracker_ = new TRectTracker(this);
    tracker_->setObjectName("RectTracker");
    tracker_->hide();
    connect(tracker_, &TRectTracker::MousePressed, this, [this](QMouseEvent* event) {
        if (event->button() != Qt::LeftButton)
            return;
        frameAtPress_ = ToBox(tracker_->geometry());
        frameMoving_ = tracker_->DragMode() == TRectTracker::tzMove;
        frameDragging_ = true;
    });
    connect(tracker_, &TRectTracker::MouseMoved, this, [this] {
        if (!frameDragging_)
            return;
        const TBox kept = KeepFrameInside(ToBox(tracker_->geometry()), frameAtPress_, frameMoving_, picture_);
        if (ToRect(kept) != tracker_->geometry())
            tracker_->setGeometry(ToRect(kept));
        FrameDragged();
    });
    connect(tracker_, &TRectTracker::MouseReleased, this, [this] { frameDragging_ = false; });

    // The player plays into this hidden panel; the dialog draws the pictures it receives itself.
    pan1_ = new TPreviewPanel(this);
    pan1_->setObjectName("pan1");
    pan1_->resize(65, 65);
    pan1_->hide();
    return row;
}

// The seek bar above play, pause, stop, the position and length, mute and the volume bar.
QVBoxLayout* TfrmCrop::BuildPlayerControls() {
    trcPreview_ = new TTrackBar2(this);
    trcPreview_->setObjectName("trcPreview");
    trcPreview_->setFixedHeight(22);
    MakeHostDrawnBar(*trcPreview_);

    btnPlay_ = MakeImageButton(this, "imgbtnPlay", "Play", skin::TButtonPicture::Play);
    btnPause_ = MakeImageButton(this, "imgbtnpause", "Pause", skin::TButtonPicture::Pause);
    btnStop_ = MakeImageButton(this, "imgbtnStop", "Stop", skin::TButtonPicture::Stop);
    lblTime_ = new QLabel(this);
    lblTime_->setObjectName("lblTime");
    lblTime_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblTime_->setMinimumWidth(80);
    lblPTS_ = new QLabel(this);
    lblPTS_->setObjectName("lblPTS");
    lblPTS_->setMinimumWidth(80);

    btnMute_ = new QToolButton(this);
    btnMute_->setObjectName("imgMute");
    btnMute_->setAutoRaise(true);
    btnMute_->setIconSize(QSize(39, 25));
    btnMute_->setFixedSize(43, 29);
    trcVolume_ = new TTrackBar2(this);
    trcVolume_->setObjectName("trcVolume");
    trcVolume_->setFixedSize(150, 20);
    MakeHostDrawnBar(*trcVolume_);

    QHBoxLayout* row = MakeTransportRow(btnPlay_, btnPause_, btnStop_, lblTime_, lblPTS_);
    row->addWidget(btnMute_);
    row->addSpacing(3);
    row->addWidget(trcVolume_);
    auto* controls = new QVBoxLayout;
    controls->setSpacing(6);
    controls->addWidget(trcPreview_);
    controls->addLayout(row);
    return controls;
}

// One caption, bar and number box of the effect page.
QHBoxLayout* TfrmCrop::BuildEffectRow(QWidget* page, int index) {
    const TEffectRow& effect = kEffects[index];
    auto* label = new QLabel(effect.Caption, page);
    label->setMinimumWidth(80);
    auto* bar = new TTrackBar2(page);
    bar->setObjectName(QString("trc") + effect.Name);
    bar->setMinimumWidth(240);
    bar->setFixedHeight(24);
    bar->SetMin(effect.Min);
    bar->SetMax(effect.Max);
    bar->SetPositionL(effect.Reset);
    auto* spin = new QSpinBox(page);
    spin->setObjectName(QString("sped") + effect.Name);
    spin->setRange(effect.Min, effect.Max);
    spin->setValue(effect.Reset);
    spin->setMinimumWidth(70);
    connect(bar, &TTrackBar2::Changed, spin, [bar, spin] { spin->setValue(bar->PositionL()); });
    connect(bar, &TTrackBar2::Changed, this, &TfrmCrop::RefreshPreviews);
    connect(spin, &QSpinBox::valueChanged, bar, [bar](int value) { bar->SetPositionL(value); });
    effectBars_[index] = bar;
    effectSpins_[index] = spin;

    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->addWidget(label);
    row->addSpacing(2);
    row->addWidget(bar, 1);
    row->addSpacing(8);
    row->addWidget(spin);
    return row;
}

QWidget* TfrmCrop::BuildEffectPage() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 14, 12, 8);
    grid->setHorizontalSpacing(26);
    grid->setVerticalSpacing(16);
    for (int i = 0; i < 4; ++i)
        grid->addLayout(BuildEffectRow(page, i), i / 2, i % 2);
    auto* reset = new QPushButton("Reset", page);
    reset->setObjectName("btnEffectReset");
    reset->setMinimumSize(80, 26);
    connect(reset, &QPushButton::clicked, this, &TfrmCrop::EffectResetClick);
    grid->addWidget(reset, 2, 1, Qt::AlignRight);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(3, 1);

    // Values the row carries that this dialog shows no control for; they are kept as they are.
    cmbZoom_ = new QComboBox(page);
    cmbZoom_->addItems({"Full screen", "Letterbox"});
    cmbZoom_->hide();
    chkText_ = new QCheckBox("Process  Added Text", page);
    chkText_->hide();
    chkImage_ = new QCheckBox("Process  Added Image", page);
    chkImage_->hide();
    return page;
}

// The margins, read-only: up and left, then right and down, with Reset beside them.
QWidget* TfrmCrop::BuildCropPage() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 14, 12, 8);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(16);
    const struct {
        const char* Caption;
        QSpinBox** Spin;
        const char* Name;
        int Row;
        int Column;
    } edits[] = {{"Up:", &spedUp_, "spedUp", 0, 0},
                 {"Left:", &spedLeft_, "spedLeft", 0, 3},
                 {"Right:", &spedRight_, "spedRight", 1, 0},
                 {"Down:", &spedDown_, "spedDown", 1, 3}};
    for (const auto& edit : edits) {
        auto* label = new QLabel(edit.Caption, page);
        label->setMinimumWidth(50);
        auto* spin = new QSpinBox(page);
        spin->setObjectName(edit.Name);
        spin->setRange(0, 100000);
        spin->setReadOnly(true);
        spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
        spin->setMinimumWidth(80);
        grid->addWidget(label, edit.Row, edit.Column);
        grid->addWidget(spin, edit.Row, edit.Column + 1);
        *edit.Spin = spin;
    }
    grid->setColumnMinimumWidth(2, 66);
    grid->setColumnMinimumWidth(5, 78);
    auto* reset = new QPushButton("Reset", page);
    reset->setMinimumSize(80, 26);
    grid->addWidget(reset, 1, 6);
    grid->setColumnStretch(7, 1);
    grid->setRowStretch(2, 1);
    connect(reset, &QPushButton::clicked, this, &TfrmCrop::DefaultClick);
    return page;
}

QTabWidget* TfrmCrop::BuildPages() {
    pages_ = new QTabWidget(this);
    pages_->setObjectName("pgcSettings");
    pages_->addTab(BuildCropPage(), "Crop");
    pages_->addTab(BuildEffectPage(), "Effect");
    pages_->setTabEnabled(0, false);
    pages_->setCurrentIndex(1);
    return pages_;
}

QHBoxLayout* TfrmCrop::BuildButtons() {
    auto* defaults = new QPushButton("&Default", this);
    auto* ok = new QPushButton("Ok", this);
    auto* cancel = new QPushButton("Cancel", this);
    connect(defaults, &QPushButton::clicked, this, &TfrmCrop::DefaultClick);
    connect(ok, &QPushButton::clicked, this, &TfrmCrop::OkClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    return MakeButtonRow(defaults, ok, cancel);
}

int TfrmCrop::Edit(TFileRow& row) {
    Load(row);
    return exec();
}

bool TfrmCrop::Load(TFileRow& row) {
    row_ = &row;
    const TlvFilesRecord& record = row.Record();
    lblFileName_->clear();
    lblTime_->clear();
    lblPTS_->clear();
    const std::string& zoom = record.Zoom;
    cmbZoom_->setCurrentIndex(zoom == "lbox" ? 1 : (zoom == "orig" || zoom == "cent") ? -1 : 0);
    latest_ = {};
    imgPreview_->SetPicture({});
    imgOutput_->SetPicture({});
    ShowFileName(record.SourceFile);

    preview_->ShowVolumeSettings();
    if (!preview_->Open(record.SourceFile)) {
        ShowNoVideo();
        return false;
    }
    if (preview_->Player().Probe().VideoStreamIndex() < 0)
        ShowNoVideo();
    else
        ShowVideo();
    return true;
}

void TfrmCrop::ShowFileName(const std::string& path) {
    const QString name = QString::fromStdString(path);
    if (name.size() <= 50) {
        lblFileName_->setText(name);
        return;
    }
    const QString extension = QString::fromStdString(std::filesystem::path(path).extension().string());
    lblFileName_->setText(name.left(44) + ".." + extension + "  ");
    lblFileName_->setToolTip(name);
}

void TfrmCrop::ShowNoVideo() {
    tracker_->hide();
    tracker_->setEnabled(false);
    picture_ = {};
    videoWidth_ = videoHeight_ = 0;
    ShowMargins({});
    for (QSpinBox* spin : {spedUp_, spedDown_, spedLeft_, spedRight_})
        spin->setEnabled(false);
    for (TTrackBar2* bar : effectBars_)
        bar->setEnabled(false);
    chkText_->setEnabled(false);
    chkImage_->setEnabled(false);
    RecomputeCrop();
}

void TfrmCrop::ShowVideo() {
    TAVProbe& probe = preview_->Player().Probe();
    TVideoStreamInfo info;
    probe.VideoStreamInfo(probe.VideoStreamIndex(), info);
    // The player shows a rotated picture upright; the crop is in the upright picture's pixels.
    const bool turned = info.Rotation == 90 || info.Rotation == 270;
    videoWidth_ = std::max(0, turned ? info.Height : info.Width);
    videoHeight_ = std::max(0, turned ? info.Width : info.Height);
    TBitmap& snapshot = preview_->Player().CurrentFrame();
    QImage first;
    if (!snapshot.Empty())
        first = ImageOf(snapshot).copy();
    imgPreview_->SetPicture(first);
    const TBox fitted = first.isNull()
                            ? FitPicture(videoWidth_, videoHeight_, kPreviewWidth, kPreviewHeight)
                            : FitPicture(first.width(), first.height(), kPreviewWidth, kPreviewHeight);
    picture_ = {imgPreview_->x() + fitted.Left, imgPreview_->y() + fitted.Top, fitted.Width, fitted.Height};

    const TlvFilesRecord& record = row_->Record();
    const TMargins margins = FittingMargins(
        {record.CropEditTop, record.CropEditBottom, record.CropEditLeft, record.CropEditRight}, picture_);
    PlaceFrame(FrameFor(margins, picture_));
    ShowMargins(margins);
    tracker_->setEnabled(true);
    tracker_->show();
    tracker_->raise();
    for (QSpinBox* spin : {spedUp_, spedDown_, spedLeft_, spedRight_})
        spin->setEnabled(true);
    for (TTrackBar2* bar : effectBars_)
        bar->setEnabled(true);
    chkText_->setEnabled(true);
    chkImage_->setEnabled(true);
    SetEffects({record.Brightness, record.Contrast, record.Saturation, record.Exposure});
    chkText_->setChecked(record.ProcessText);
    chkImage_->setChecked(record.ProcessImage);
    RecomputeCrop();
}

bool TfrmCrop::HasPicture() const {
    return picture_.Width > 0 && picture_.Height > 0;
}

// --- The crop frame and the margins ----------------------------------------------------------------

void TfrmCrop::PlaceFrame(const TBox& frame) {
    tracker_->setGeometry(ToRect(frame));
    tracker_->update();
}

void TfrmCrop::DragFrameTo(const TBox& frame, bool moving) {
    frameAtPress_ = ToBox(tracker_->geometry());
    frameMoving_ = moving;
    PlaceFrame(KeepFrameInside(frame, frameAtPress_, moving, picture_));
    FrameDragged();
}

void TfrmCrop::FrameDragged() {
    if (!HasPicture())
        return;
    ShowMargins(MarginsOf(ToBox(tracker_->geometry()), picture_));
    RecomputeCrop();
}

void TfrmCrop::ShowMargins(const TMargins& m) {
    const QSignalBlocker up(spedUp_), down(spedDown_), left(spedLeft_), right(spedRight_);
    spedUp_->setValue(m.Top);
    spedDown_->setValue(m.Bottom);
    spedLeft_->setValue(m.Left);
    spedRight_->setValue(m.Right);
}

TMargins TfrmCrop::Margins() const {
    return {spedUp_->value(), spedDown_->value(), spedLeft_->value(), spedRight_->value()};
}

void TfrmCrop::RecomputeCrop() {
    crop_ = SourceCrop(Margins(), videoWidth_, videoHeight_, picture_.Width, picture_.Height);
    RefreshPreviews();
}

// --- Effects ---------------------------------------------------------------------------------------------

TPictureSettings TfrmCrop::Effects() const {
    return {effectBars_[0]->PositionL(), effectBars_[1]->PositionL(), effectBars_[2]->PositionL(),
            effectBars_[3]->PositionL()};
}

void TfrmCrop::SetEffects(const TPictureSettings& effects) {
    const int values[4] = {effects.Brightness, effects.Contrast, effects.Saturation, effects.Exposure};
    for (int i = 0; i < 4; ++i) {
        effectBars_[i]->SetPositionL(values[i]);
        effectSpins_[i]->setValue(effectBars_[i]->PositionL());
    }
}

void TfrmCrop::EffectResetClick() {
    SetEffects({});
    chkText_->setChecked(false);
    chkImage_->setChecked(false);
}

void TfrmCrop::DefaultClick() {
    ShowMargins({});
    if (HasPicture())
        PlaceFrame(picture_);
    RecomputeCrop();
}

// --- Pictures from the player ----------------------------------------------------------------------------

void TfrmCrop::RefreshPreviews() {
    if (latest_.isNull())
        return;
    imgPreview_->SetPicture(latest_);
    const int width = latest_.width() - crop_.Left - crop_.Right;
    const int height = latest_.height() - crop_.Top - crop_.Bottom;
    if (width <= 0 || height <= 0) {
        imgOutput_->SetPicture({});
        return;
    }
    QImage output = latest_;
    if (PictureAdjusted(Effects())) {
        CopyPicture(latest_, adjusted_);
        AdjustPicture(adjusted_, Effects());
        output = ImageOf(adjusted_);
    }
    imgOutput_->SetPicture(output.copy(crop_.Left, crop_.Top, width, height));
}

// --- Ok and closing
// -----------------------------------------------------------------------------------------

void TfrmCrop::OkClick() {
    if (row_) {
        TlvFilesRecord& record = row_->Record();
        const TMargins margins = HasPicture() ? Margins() : TMargins{};
        RecomputeCrop();
        record.CropEditTop = margins.Top;
        record.CropEditBottom = margins.Bottom;
        record.CropEditLeft = margins.Left;
        record.CropEditRight = margins.Right;
        record.CropTop = crop_.Top;
        record.CropBottom = crop_.Bottom;
        record.CropLeft = crop_.Left;
        record.CropRight = crop_.Right;
        if (cmbZoom_->currentIndex() == 0)
            record.Zoom = "full";
        else if (cmbZoom_->currentIndex() == 1)
            record.Zoom = "lbox";
        const TPictureSettings effects = Effects();
        record.Brightness = effects.Brightness;
        record.Contrast = effects.Contrast;
        record.Saturation = effects.Saturation;
        record.Exposure = effects.Exposure;
        record.ProcessText = chkText_->isChecked();
        record.ProcessImage = chkImage_->isChecked();
    }
    accept();
}

void TfrmCrop::done(int result) {
    CloseDown();
    QDialog::done(result);
}

// Stops the player (waiting for its threads) before the pictures go away.
void TfrmCrop::CloseDown() {
    preview_->Stop();
    latest_ = {};
}

} // namespace tarnel
