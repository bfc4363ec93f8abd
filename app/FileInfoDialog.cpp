#include "FileInfoDialog.h"

#include "core/GlobalObject.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

namespace tarnel {

TfrmFileInfo::TfrmFileInfo(QWidget* parent)
    : QDialog(parent) {
    setObjectName("frmFileInfo");
    setWindowTitle("File information");
    setFixedSize(420, 460);

    auto* nameCaption = new QLabel("File Name:", this);
    nameCaption->setGeometry(20, 16, 80, 20);
    lblName_ = new QLabel(this);
    lblName_->setObjectName("lblName");
    lblName_->setGeometry(100, 16, 300, 20);
    auto* durationCaption = new QLabel("Duration:", this);
    durationCaption->setGeometry(20, 40, 80, 20);
    lblDuration_ = new QLabel(this);
    lblDuration_->setObjectName("lblDuration");
    lblDuration_->setGeometry(100, 40, 300, 20);

    auto* video = new QGroupBox("Video ", this);
    video->setGeometry(16, 70, 388, 170);
    edtVideoFormat_ = AddField("Format:", "edtVideoFormat", 30, 96);
    edtResolution_ = AddField("Resloution:", "edtResolution", 30, 124);
    edtFrameRate_ = AddField("Frame Rate:", "edtFrameRate", 30, 152);
    edtTotalFrame_ = AddField("Total Frame:", "edtTotalFrame", 30, 180);
    edtVideoBitRate_ = AddField("Bit Rate:", "edtVideoBitRate", 30, 208);

    auto* audio = new QGroupBox("Audio", this);
    audio->setGeometry(16, 250, 388, 148);
    edtAudioFormat_ = AddField("Format:", "edtAudioFormat", 30, 276);
    edtSampleRate_ = AddField("Sample Rate:", "edtSampleRate", 30, 304);
    edtChannel_ = AddField("Channel:", "edtChannel", 30, 332);
    edtAudioBitRate_ = AddField("Bit Rate:", "edtAudioBitRate", 30, 360);

    auto* ok = new QPushButton("&Ok", this);
    ok->setGeometry(420 - 100, 420, 84, 26);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QLineEdit* TfrmFileInfo::AddField(const char* caption, const char* name, int x, int y) {
    auto* label = new QLabel(caption, this);
    label->setGeometry(x, y, 96, 22);
    auto* field = new QLineEdit(this);
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setGeometry(x + 100, y, 250, 22);
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

void TfrmFileInfo::ClearVideo() {
    for (QLineEdit* field : {edtResolution_, edtVideoBitRate_, edtFrameRate_, edtTotalFrame_})
        field->clear();
}

void TfrmFileInfo::ClearAudio() {
    for (QLineEdit* field : {edtAudioFormat_, edtSampleRate_, edtChannel_, edtAudioBitRate_})
        field->clear();
}

void TfrmFileInfo::ShowFile(const std::string& file) {
    setFixedSize(420, 460);
    lblName_->clear();
    lblDuration_->clear();
    if (file.empty())
        return;
    converter_.LoadLibraries(TGlobalObject::ExecutableFolder() + "LibAV");
    converter_.ClearTasks();
    TInputOptions input;
    input.FileName = file;
    const int task = converter_.AddTask(file, &input);
    TAVProbe& probe = converter_.Probe();
    probe.Open(file);
    if (probe.VideoStreamCount() <= 0)
        return;

    bool shortened = false;
    lblName_->setText(NameText(QString::fromStdString(file), shortened));
    if (shortened)
        lblName_->setFixedWidth(270);
    TFileStreamInfo fileInfo;
    probe.FileStreamInfo(fileInfo);
    lblDuration_->setText(DurationText(fileInfo.Duration));
    edtVideoFormat_->setText(QString::fromStdString(probe.FormatName()));

    TAVProbe* inputProbe = task >= 0 ? converter_.InputProbe(task, 0) : nullptr;
    TVideoStreamInfo video;
    if (probe.IsVideoStream(probe.VideoStreamIndex()) && inputProbe &&
        inputProbe->VideoStreamInfo(probe.VideoStreamIndex(), video)) {
        edtResolution_->setText(QString::number(video.Width) + "x" + QString::number(video.Height));
        edtVideoBitRate_->setText(QString::number(video.BitRate));
        edtFrameRate_->setText(QString::number(video.FrameRateNum));
        edtTotalFrame_->setText(QString::number(video.FrameRateDen));
    } else {
        ClearVideo();
    }
    TAudioStreamInfo audio;
    if (!probe.IsAudioStream(probe.AudioStreamIndex()) || !inputProbe ||
        !inputProbe->AudioStreamInfo(probe.AudioStreamIndex(), audio)) {
        ClearAudio();
        return;
    }
    edtAudioBitRate_->setText(QString::number(audio.BitRate));
    edtSampleRate_->setText(QString::number(audio.SampleRate));
    edtChannel_->setText(QString::number(audio.Channels));
    edtAudioFormat_->setText(AudioFormatFromInfo(probe.InfoText()));
}

void TfrmFileInfo::done(int result) {
    converter_.ClearTasks();
    QDialog::done(result);
}

} // namespace tarnel
