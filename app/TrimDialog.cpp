#include "TrimDialog.h"

#include "TrackBar2.h"
#include "core/ProgressEstimate.h"
#include "preview/PreviewPlayer.h"
#include "skin/SkinPictures.h"
#include "widgets/DialogBars.h"
#include "widgets/FileListView.h"
#include "widgets/PreviewPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace tarnel {

namespace {

const QColor kBarBackground(32, 75, 139);
const QColor kRange(255, 153, 0);
constexpr QSize kDesignedSize(902, 566);
constexpr int kFrameMargin = 12; // around the title row; the rest lies further in
constexpr int kPreviewHeight = 350;

int64_t Rounded(double value) {
    return static_cast<int64_t>(std::nearbyint(value));
}

int HalfWidth(const QPixmap& picture) {
    return static_cast<int>(std::lround(picture.width() / picture.devicePixelRatio() / 2.0));
}

int Width(const QPixmap& picture) {
    return static_cast<int>(std::lround(picture.width() / picture.devicePixelRatio()));
}

// Enter in a time field takes the typed time: it clicks none of the buttons.
QPushButton* DialogButton(QWidget* parent, const char* text) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setMinimumSize(88, 28);
    return button;
}

QLabel* FieldCaption(QWidget* parent, const char* text) {
    auto* label = new QLabel(text, parent);
    label->setMinimumWidth(80);
    return label;
}

// A field for a typed time (digits and colons), 90 × 24 or as wide as a time needs at the
// current font.
QLineEdit* TimeField(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9:]{0,12}"), field));
    field->setMinimumHeight(24);
    field->setFixedWidth(std::max(90, field->fontMetrics().horizontalAdvance("00:00:00") + 20));
    return field;
}

} // namespace

TfrmTrim::TfrmTrim(TMainSettings& settings, QWidget* parent)
    : QDialog(parent) {
    setObjectName("frmTrim");
    setWindowTitle("Trim");

    imgPreview_ = new TPreviewPanel(this);
    imgPreview_->setObjectName("imgPreview");
    imgPreview_->setFixedSize(kRangeWidth, kPreviewHeight);
    trcPreview_ = new TTrackBar2(this);
    trcPreview_->setObjectName("trcPreview");
    trcPreview_->setFixedHeight(22);
    MakeHostDrawnBar(*trcPreview_);
    // The markers' times are computed from the range bar's width: it keeps its designed size.
    trcPosition_ = new TTrackBar2(this);
    trcPosition_->setObjectName("trcPosition");
    trcPosition_->setFixedSize(kRangeWidth, kRangeHeight);
    trcPosition_->SetSecondThumb(true);
    MakeHostDrawnBar(*trcPosition_, TTrackDrawing::ByHost);
    connect(trcPosition_, &TTrackBar2::DrawingTrack, this,
            [this](QPainter& painter) { DrawRangeBar(painter); });
    trcPosition_->installEventFilter(this);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(kRangeLeft - kFrameMargin, 0, kRangeLeft - kFrameMargin, 0);
    body->setSpacing(0);
    body->addWidget(imgPreview_);
    body->addSpacing(8);
    body->addWidget(trcPreview_);
    body->addSpacing(8);
    body->addLayout(BuildTransportRow());
    body->addSpacing(15);
    body->addWidget(trcPosition_);
    body->addSpacing(23);
    body->addStretch(1);
    body->addLayout(BuildButtonRow());

    QHBoxLayout* title = MakeTitleRow(*this, "Trim");
    title->insertSpacing(0, kRangeLeft - kFrameMargin);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(kFrameMargin, 6, kFrameMargin, 22);
    page->setSpacing(6);
    page->addLayout(title);
    page->addLayout(body, 1);
    // The designed size, or more when a larger font needs it; the picture areas keep their size.
    // The layout is placed now, as in the crop dialog: the widgets have their final places before
    // a file is loaded, whether or not the dialog shows first.
    setFixedSize(kDesignedSize.expandedTo(sizeHint()));
    page->activate();

    preview_ = std::make_unique<TPreviewPlayer>(
        *imgPreview_, settings,
        TPreviewPlayer::TControls{
            .Play = btnPlay_, .Pause = btnPause_, .Stop = btnStop_, .SeekBar = trcPreview_});
    ConnectPreview();
}

// Play, pause, stop, the position and length, and the trim's start and end.
QHBoxLayout* TfrmTrim::BuildTransportRow() {
    btnPlay_ = MakeImageButton(this, "imgbtnPlay", "Play", skin::TButtonPicture::Play);
    btnPause_ = MakeImageButton(this, "imgbtnpause", "Pause", skin::TButtonPicture::Pause);
    btnStop_ = MakeImageButton(this, "imgbtnStop", "Stop", skin::TButtonPicture::Stop);
    lblTime_ = new QLabel(PlayedClockText(0), this);
    lblTime_->setObjectName("lblTime");
    lblTime_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblTime_->setMinimumWidth(80);
    lblPTS_ = new QLabel(ClockText(0), this);
    lblPTS_->setObjectName("lblPTS");
    lblPTS_->setMinimumWidth(80);
    edtStart_ = TimeField(this, "edtStart");
    edtTrimLength_ = TimeField(this, "edtTrimLength");
    connect(edtStart_, &QLineEdit::editingFinished, this, [this] { TypedStart(); });
    connect(edtTrimLength_, &QLineEdit::editingFinished, this, [this] { TypedEnd(); });

    QHBoxLayout* row = MakeTransportRow(btnPlay_, btnPause_, btnStop_, lblTime_, lblPTS_);
    row->addWidget(FieldCaption(this, "Trim Start: "));
    row->addWidget(edtStart_);
    row->addSpacing(30);
    row->addWidget(FieldCaption(this, "Trim End: "));
    row->addWidget(edtTrimLength_);
    row->addSpacing(30);
    return row;
}

QHBoxLayout* TfrmTrim::BuildButtonRow() {
    QPushButton* defaults = DialogButton(this, "&Default");
    QPushButton* ok = DialogButton(this, "Ok");
    QPushButton* cancel = DialogButton(this, "Cancel");
    connect(defaults, &QPushButton::clicked, this, &TfrmTrim::DefaultClick);
    connect(ok, &QPushButton::clicked, this, &TfrmTrim::OkClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    return MakeButtonRow(defaults, ok, cancel);
}

TfrmTrim::~TfrmTrim() = default;

void TfrmTrim::ConnectPreview() {
    connect(btnPlay_, &QToolButton::clicked, preview_.get(), &TPreviewPlayer::Play);
    connect(preview_.get(), &TPreviewPlayer::Opened, this,
            [this](int64_t duration) { FileOpened(duration); });
    connect(preview_.get(), &TPreviewPlayer::PositionChanged, this, &TfrmTrim::ShowPosition);
    connect(preview_.get(), &TPreviewPlayer::StateChanged, this, [this](TPreviewState state) {
        if (state != TPreviewState::Closed)
            return;
        lblTime_->setText(PlayedClockText(0));
        lblPTS_->setText(ClockText(0));
    });
    preview_->LoadLibraries();
}

int TfrmTrim::Edit(TFileRow& row, bool selectedFirst) {
    Load(row, selectedFirst);
    return exec();
}

bool TfrmTrim::Load(TFileRow& row, bool selectedFirst) {
    row_ = &row;
    lblPTS_->clear();
    lblTime_->clear();
    if (!preview_->Open(row.Record().SourceFile))
        return false;
    const TlvFilesRecord& record = row.Record();
    if (record.TrimStart >= 0)
        start_ = record.TrimStart / 1000000;
    end_ = record.TrimLength > 0 ? (record.TrimStart + record.TrimLength) / 1000000 : duration_;
    PlaceMarkers();
    if (selectedFirst) {
        leftX_ -= HalfWidth(skin::RangeMarker(true));
        rightX_ -= HalfWidth(skin::RangeMarker(false));
    }
    edtStart_->setText(ClockText(start_));
    edtTrimLength_->setText(ClockText(end_));
    trcPosition_->update();
    return true;
}

void TfrmTrim::FileOpened(int64_t duration) {
    duration_ = Rounded(duration / 1e6);
    lblTime_->setText(PlayedClockText(0));
    lblPTS_->setText(ClockText(duration_));
    trcPosition_->SetMax(static_cast<int>(duration_));
    trcPosition_->SetPositionU(trcPosition_->Max());
    trcPosition_->SetPositionL(0);
    rightLimit_ = trcPosition_->width() - Width(skin::RangeMarker(false));
}

void TfrmTrim::ShowPosition(int64_t pts) {
    lblTime_->setText(PlayedClockText(Rounded(pts / 1e6)));
}

void TfrmTrim::DefaultClick() {
    start_ = 0;
    end_ = duration_;
    edtStart_->setText(ClockText(0));
    edtTrimLength_->setText(ClockText(duration_));
    PlaceMarkers();
}

void TfrmTrim::OkClick() {
    if (!row_) {
        reject();
        return;
    }
    TlvFilesRecord& record = row_->Record();
    const bool chosen = start_ >= 0 && end_ > 0 && start_ < end_ && end_ <= duration_;
    const int64_t kept = chosen ? end_ - start_ : duration_;
    if (kept <= 0) {
        record.TrimStart = 0;
        record.TrimLength = 0;
        accept();
        return;
    }
    // A choice that is no range (an end before the start, or past the end of the file) keeps the
    // whole file: its start is not kept either.
    const int64_t start = chosen ? start_ : 0;
    record.TrimStart = start > 0 ? start * 1000000 : 0;
    record.TrimLength = kept >= duration_ ? 0 : kept * 1000000;
    row_->setText(TFileListView::colTrimmedLength, QString::number(kept));
    accept();
}

// Closing in any way closes the player, waiting for its threads: SDL is shared by the whole
// program, and the next preview must not start while this one still shuts it down.
void TfrmTrim::done(int result) {
    preview_->Stop();
    QDialog::done(result);
}

// --- Typed times -------------------------------------------------------------------------------------

// The markers at the places of the start and the end.
void TfrmTrim::PlaceMarkers() {
    if (duration_ <= 0)
        return;
    leftX_ = static_cast<int>(Rounded(static_cast<double>(start_) / duration_ * rightLimit_));
    rightX_ = static_cast<int>(Rounded(static_cast<double>(end_) / duration_ * rightLimit_));
    trcPosition_->update();
}

// A typed time within the file, or -1 when the text is no time; the field shows what is kept.
int64_t TfrmTrim::TypedTime(QLineEdit& field, int64_t low, int64_t high) {
    const int64_t typed = ClockToSeconds(field.text().toStdString());
    if (typed < 0 || duration_ <= 0)
        return -1;
    return std::clamp(typed, low, std::max(low, high));
}

void TfrmTrim::TypedStart() {
    const int64_t start = TypedTime(*edtStart_, 0, std::min(end_, duration_));
    if (start >= 0) {
        start_ = start;
        PlaceMarkers();
        preview_->ShowOnSeekBar(start_ * 1000000);
    }
    edtStart_->setText(ClockText(start_));
}

void TfrmTrim::TypedEnd() {
    const int64_t end = TypedTime(*edtTrimLength_, start_, duration_);
    if (end >= 0) {
        end_ = end;
        PlaceMarkers();
        preview_->ShowOnSeekBar(end_ * 1000000);
    }
    edtTrimLength_->setText(ClockText(end_));
}

// --- The range bar ------------------------------------------------------------------------------------

void TfrmTrim::MoveStartMarker(int x) {
    const int ws = HalfWidth(skin::RangeMarker(true));
    if (x < ws) {
        leftX_ = 0;
        start_ = 0;
    } else {
        leftX_ = x - ws;
        start_ = Rounded(static_cast<double>(leftX_) / trcPosition_->width() * duration_);
    }
    preview_->ShowOnSeekBar(start_ * 1000000);
    edtStart_->setText(ClockText(start_));
}

void TfrmTrim::MoveEndMarker(int x) {
    const int we = HalfWidth(skin::RangeMarker(false));
    rightX_ = x - we;
    end_ = rightLimit_ > 0 ? Rounded(static_cast<double>(rightX_) / rightLimit_ * duration_) : 0;
    preview_->ShowOnSeekBar(end_ * 1000000);
    edtTrimLength_->setText(ClockText(end_));
}

void TfrmTrim::RangeClick(int x, bool dragging) {
    const int ws = HalfWidth(skin::RangeMarker(true));
    const int we = HalfWidth(skin::RangeMarker(false));
    double mid = leftX_ + (rightX_ - leftX_) / 2.0;
    if (!dragging) {
        if (x <= mid && 0 < x && x <= rightLimit_)
            MoveStartMarker(x);
        mid = leftX_ + (rightX_ - leftX_) / 2.0;
        if (x > mid && x <= rightLimit_)
            MoveEndMarker(x);
    } else {
        if (end_ - start_ == 0 || end_ - start_ == 1)
            return;
        trcPosition_->SetPositionL(
            static_cast<int>(Rounded(static_cast<double>(x) / trcPosition_->width() * trcPosition_->Max())));
        if (x <= mid && 0 < x && x <= ws + rightLimit_)
            MoveStartMarker(x);
        else if (x > mid && x <= we + rightLimit_)
            MoveEndMarker(x);
    }
    trcPosition_->update();
}

// The range bar's markers show their time on the preview bar; letting go seeks there.
bool TfrmTrim::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched != trcPosition_ ||
        (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseMove))
        return QDialog::eventFilter(watched, event);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const int x = static_cast<int>(mouse->position().x());
    if (type != QEvent::MouseMove && mouse->button() == Qt::LeftButton)
        RangeClick(x, false);
    else if (type == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton))
        RangeClick(x, true);
    if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton)
        preview_->SeekToBar();
    // The bar's own mouse handling would move its thumbs: the dialog does that itself.
    return true;
}

void TfrmTrim::DrawRangeBar(QPainter& painter) {
    TTrackBar2& bar = *trcPosition_;
    painter.fillRect(bar.rect(), kBarBackground);
    const int middle = bar.height() / 2;
    if (rightX_ + 2 > leftX_ + 10)
        painter.fillRect(QRect(QPoint(leftX_ + 10, middle - 2), QPoint(rightX_ + 2, middle + 1)), kRange);
    if (rightX_ <= rightLimit_)
        painter.drawPixmap(rightX_, 0, skin::RangeMarker(false));
    if (leftX_ >= 0)
        painter.drawPixmap(leftX_, 0, skin::RangeMarker(true));
}

} // namespace tarnel
