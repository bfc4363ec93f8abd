// The preferences: the snapshot folder, sizes, formats and JPEG quality, and the priority of the
// conversions.
#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QSlider;
class QSpinBox;

namespace tarnel {

class TMainSettings;
class TShellServices;

class TfrmPreference : public QDialog {
    Q_OBJECT
public:
    TfrmPreference(TMainSettings& settings, TShellServices& services, QWidget* parent = nullptr);

    // Reads everything from the settings again (the dialog is kept between showings).
    void LoadSettings();
    void DefaultClick();
    void OkClick();
    void BrowsClick();
    void OpenClick();

    QCheckBox& FullSize() { return *chkFull_; }
    QCheckBox& SmallSize() { return *chkSmall_; }
    QCheckBox& Bmp() { return *chkBmp_; }
    QCheckBox& Jpg() { return *chkJpg_; }
    QSpinBox& Quality() { return *spnQuality_; }
    QSpinBox& Jobs() { return *spnJobs_; }
    QSlider& QualityBar() { return *trcQuality_; }
    QLineEdit& FolderField() { return *edtFolder_; }
    int Priority() const;

    static const char* const kQualityHint;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // A click that would untick both boxes of a pair ticks the clicked one again.
    void KeepOneTicked(QCheckBox* clicked, QCheckBox* other);
    void UpdateQualityEnabling();

    TMainSettings& settings_;
    TShellServices& services_;
    QLineEdit* edtFolder_;
    QCheckBox* chkSmall_;
    QCheckBox* chkFull_;
    QCheckBox* chkBmp_;
    QCheckBox* chkJpg_;
    QSpinBox* spnQuality_;
    QSpinBox* spnJobs_;
    QCheckBox* chkMeasureQuality_ = nullptr;
    QSlider* trcQuality_;
    QButtonGroup* priority_;
};

} // namespace tarnel
