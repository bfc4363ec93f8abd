#include "FileInfoDialog.h"

#include "core/GlobalObject.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

namespace tarnel {

TfrmFileInfo::TfrmFileInfo(QWidget* parent)
    : QDialog(parent) {
    setObjectName("frmFileInfo");
    setWindowTitle("File information");

    auto* top = new QFormLayout;
    top->setHorizontalSpacing(8);
    lblName_ = new QLabel;
    lblName_->setObjectName("lblName");
    lblDuration_ = new QLabel;
    lblDuration_->setObjectName("lblDuration");
    top->addRow("File Name:", lblName_);
    top->addRow("Duration:", lblDuration_);

    auto* video = new QGroupBox("Video ");
    auto* videoFields = new QFormLayout(video);
    edtVideoFormat_ = AddField(*videoFields, "Format:", "edtVideoFormat");
    edtResolution_ = AddField(*videoFields, "Resloution:", "edtResolution");
    edtFrameRate_ = AddField(*videoFields, "Frame Rate:", "edtFrameRate");
    edtTotalFrame_ = AddField(*videoFields, "Total Frame:", "edtTotalFrame");
    edtVideoBitRate_ = AddField(*videoFields, "Bit Rate:", "edtVideoBitRate");

    auto* audio = new QGroupBox("Audio");
    auto* audioFields = new QFormLayout(audio);
    edtAudioFormat_ = AddField(*audioFields, "Format:", "edtAudioFormat");
    edtSampleRate_ = AddField(*audioFields, "Sample Rate:", "edtSampleRate");
    edtChannel_ = AddField(*audioFields, "Channel:", "edtChannel");
    edtAudioBitRate_ = AddField(*audioFields, "Bit Rate:", "edtAudioBitRate");

    auto* ok = new QPushButton("&Ok");
    ok->setMinimumSize(84, 26);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 14, 16, 14);
    column->setSpacing(10);
    column->addLayout(top);
    column->addWidget(video);
    column->addWidget(audio);
    column->addStretch(1);
    column->addLayout(buttons);
    resize(kDesignedSize.expandedTo(sizeHint()));
}

QLineEdit* TfrmFileInfo::AddField(QFormLayout& form, const char* caption, const char* name) {
    auto* field = new QLineEdit;
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setMinimumWidth(250);
    form.addRow(caption, field);
    return field;
}

QString TfrmFileInfo::Field(const char* name) const {
    const auto* field = findChild<QLineEdit*>(name);
    return field ? field->text() : QString();
}

QString TfrmFileInfo::DurationText(int64_t durationUs) {
    char text[64];
    std::snprintf(text, sizeof text, "%d.%.3d", static_cast<int>(durationUs / 1000000),
                  static_cast<int>(durationUs / 1000 % 1000));
    return QString(text) + " Second";
}

QString TfrmFileInfo::NameText(const QString& path, bool& shortened) {
    shortened = path.size() >= 46;
    if (!shortened)
        return path;
    const QString suffix = QFileInfo(path).suffix();
    return path.left(40) + ".." + (suffix.isEmpty() ? QString() : "." + suffix) + "  ";
}

QString TfrmFileInfo::AudioFormatFromInfo(const std::string& infoText) {
    const size_t audio = infoText.find("Audio:");
    if (audio == std::string::npos)
        return {};
    const size_t start = audio + 7; // "Audio:" and one blank
    const size_t comma = infoText.find(',', start);
    return QString::fromStdString(
        infoText.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
}

QString TfrmFileInfo::FrameRateText(int32_t numerator, int32_t denominator) {
    if (numerator <= 0 || denominator <= 0)
        return {};
    if (numerator % denominator == 0)
        return QString::number(numerator / denominator);
    // Two decimals at most, without trailing zeros: 29.97, 23.98, 12.5.
    return QString::number(std::round(100.0 * numerator / denominator) / 100.0, 'f', 2)
        .remove(QRegularExpression("\\.?0+$"));
}

QString TfrmFileInfo::TotalFramesText(int64_t frameCount, int64_t durationUs, int32_t numerator,
                                      int32_t denominator) {
    if (frameCount > 0)
        return QString::number(frameCount);
    if (durationUs <= 0 || numerator <= 0 || denominator <= 0)
        return {};
    return QString::number(std::llround(durationUs / 1e6 * numerator / denominator));
}

void TfrmFileInfo::ClearVideo() {
    for (QLineEdit* field :
         {edtVideoFormat_, edtResolution_, edtVideoBitRate_, edtFrameRate_, edtTotalFrame_})
        field->clear();
}

void TfrmFileInfo::ClearAudio() {
    for (QLineEdit* field : {edtAudioFormat_, edtSampleRate_, edtChannel_, edtAudioBitRate_})
        field->clear();
}

// The name and duration of every readable file; the video fields of its first moving picture and
// the audio fields of its first sound, each cleared when the file has none, so nothing of the file
// shown before stays.
void TfrmFileInfo::ShowFile(const std::string& file) {
    lblName_->clear();
    lblDuration_->clear();
    ClearVideo();
    ClearAudio();
    if (file.empty())
        return;
    converter_.LoadLibraries(TGlobalObject::ExecutableFolder() + "LibAV");
    converter_.ClearTasks();
    TInputOptions input;
    input.FileName = file;
    const int task = converter_.AddTask(file, &input);
    TAVProbe& probe = converter_.Probe();
    if (!probe.Open(file))
        return;

    bool shortened = false;
    lblName_->setText(NameText(QString::fromStdString(file), shortened));
    TFileStreamInfo fileInfo;
    probe.FileStreamInfo(fileInfo);
    lblDuration_->setText(DurationText(fileInfo.Duration));

    TAVProbe* inputProbe = task >= 0 ? converter_.InputProbe(task, 0) : nullptr;
    TVideoStreamInfo video;
    if (probe.VideoStreamCount() > 0 && probe.IsVideoStream(probe.VideoStreamIndex()) && inputProbe &&
        inputProbe->VideoStreamInfo(probe.VideoStreamIndex(), video) && !video.CoverArt) {
        edtVideoFormat_->setText(QString::fromStdString(probe.FormatName()));
        edtResolution_->setText(QString::number(video.Width) + "x" + QString::number(video.Height));
        edtVideoBitRate_->setText(QString::number(video.BitRate));
        edtFrameRate_->setText(FrameRateText(video.FrameRateNum, video.FrameRateDen));
        const int64_t duration = video.Duration > 0 ? video.Duration : fileInfo.Duration;
        edtTotalFrame_->setText(
            TotalFramesText(video.FrameCount, duration, video.FrameRateNum, video.FrameRateDen));
    }
    TAudioStreamInfo audio;
    if (probe.IsAudioStream(probe.AudioStreamIndex()) && inputProbe &&
        inputProbe->AudioStreamInfo(probe.AudioStreamIndex(), audio)) {
        edtAudioBitRate_->setText(QString::number(audio.BitRate));
        edtSampleRate_->setText(QString::number(audio.SampleRate));
        edtChannel_->setText(QString::number(audio.Channels));
        edtAudioFormat_->setText(AudioFormatFromInfo(probe.InfoText()));
    }
}

void TfrmFileInfo::done(int result) {
    converter_.ClearTasks();
    QDialog::done(result);
}

} // namespace tarnel
