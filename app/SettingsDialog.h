// The output-profile settings: a profile chosen in the dialog's own catalogue list, and its video
// and audio values picked from the profile file's lists or typed. "&Ok" (or Enter in a typed box)
// checks the typed values, stores them in the user's section of the profile and makes the profile
// the current one.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QComboBox;
class QHBoxLayout;
class QLineEdit;
class QToolButton;
class QVBoxLayout;

namespace tarnel {

class TCatalogueList;
class TMainSettings;
class TProfileFile;
class TShellServices;

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    // `profileFile` names tarnelformat.ini; `confirmed` runs after "&Ok" has written everything
    // (the main window fills its catalogue again).
    TfrmSettings(TMainSettings& settings, std::string profileFile, TShellServices& services,
                 std::function<void()> confirmed, QWidget* parent = nullptr);

    void LoadSettings();
    void ChooseProfile(const QString& caption, int code);
    void DefaultClick();
    void OkClick();

    QComboBox& List(const char* name);
    TCatalogueList& Catalogue() { return *lstFormat_; }
    const std::string& RememberedCode() const { return code_; }

    // The leave checks of the editable boxes; false when the text was refused or corrected.
    bool CheckFrameSize();
    bool CheckVideoBitRate();
    bool CheckAudioBitRate();
    bool CheckSampleRate();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QHBoxLayout* BuildFormatRow();
    QHBoxLayout* BuildButtonRow();
    QComboBox* AddList(QVBoxLayout& fields, const char* caption, const char* name, bool editable);
    void FillLists(TProfileFile& profiles);
    void SelectFromUserSection(bool typedValues);
    void UpdateEnabling();
    void SelectAudioTracks();
    void SelectLoudness();
    void OpenCatalogue();
    bool RefuseKey(QObject* watched, int key, const QString& text);
    QComboBox* TypedBox(QObject* watched) const;
    bool CheckTyped(QComboBox* list);
    bool CheckTypedValues();
    void LeaveTyped(QComboBox* list, Qt::FocusReason reason);
    void SelectSecondEntry(QComboBox* list);
    void Message(const std::string& text);

    TMainSettings& settings_;
    std::string profileFile_;
    TShellServices& services_;
    std::function<void()> confirmed_;
    std::string name_; // the remembered profile
    std::string code_;
    bool checking_ = false; // a leave check is showing its message

    QLineEdit* edtFormat_;
    QToolButton* btnArrow_;
    TCatalogueList* lstFormat_;
    QComboBox* videoSize_ = nullptr;
    QComboBox* videoBitRate_ = nullptr;
    QComboBox* videoEncoder_;
    QComboBox* frameRate_ = nullptr;
    QComboBox* zoom_;
    QComboBox* sampleRate_ = nullptr;
    QComboBox* audioBitRate_ = nullptr;
    QComboBox* audioEncoder_;
    QComboBox* channel_;
    QComboBox* volume_;
    QComboBox* loudness_ = nullptr;
    QComboBox* audioTracks_; // "First" or "All"
};

} // namespace tarnel
