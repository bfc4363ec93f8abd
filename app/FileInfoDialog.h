// The media-information window of the selected file: name, duration, and the first video and audio
// streams' format, size, rates and bit rates. It reads the file through a conversion component of
// its own.
#pragma once

#include "converter/FFConverter.h"

#include <QDialog>
#include <QSize>
#include <string>

class QFormLayout;
class QLabel;
class QLineEdit;

namespace tarnel {

class TfrmFileInfo : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFileInfo(QWidget* parent = nullptr);

    // Fills the window for `file` (empty: the file list is empty, the labels stay cleared).
    void ShowFile(const std::string& file);

    // "%d.%.3d" + " Second": whole seconds and milliseconds of a duration in microseconds.
    static QString DurationText(int64_t durationUs);
    // The path when shorter than 46 characters, else its first 40, "..", the extension and two blanks.
    static QString NameText(const QString& path, bool& shortened);
    // The rate in pictures a second: whole, or with up to two decimals (29.97); empty when unknown.
    static QString FrameRateText(int32_t numerator, int32_t denominator);
    // The container's count, else duration × rate; empty when neither is known.
    static QString TotalFramesText(int64_t frameCount, int64_t durationUs, int32_t numerator,
                                   int32_t denominator);
    // The codec name of the first audio stream line of a probe's information text.
    static QString AudioFormatFromInfo(const std::string& infoText);

    QString Field(const char* name) const;

protected:
    void done(int result) override;

private:
    static constexpr QSize kDesignedSize{420, 460};

    QLineEdit* AddField(QFormLayout& form, const char* caption, const char* name);
    void ClearVideo();
    void ClearAudio();

    TFFConverter converter_;
    QLabel* lblName_;
    QLabel* lblDuration_;
    QLineEdit* edtVideoFormat_;
    QLineEdit* edtResolution_;
    QLineEdit* edtFrameRate_;
    QLineEdit* edtTotalFrame_;
    QLineEdit* edtVideoBitRate_;
    QLineEdit* edtAudioFormat_;
    QLineEdit* edtSampleRate_;
    QLineEdit* edtChannel_;
    QLineEdit* edtAudioBitRate_;
};

} // namespace tarnel
