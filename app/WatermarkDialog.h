// The watermark dialog: text and picture layers placed over the playing file in a layered view,
// each with a position, a transparency and the seconds in which it shows. "Ok" stores them in the
// row as its watermark layers, which the conversion draws into every picture.
#pragma once

#include "core/FilesRecord.h"
#include "core/WatermarkLayers.h"

#include <QDialog>
#include <QImage>
#include <memory>
#include <vector>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace tarnel {

class TFileRow;
class TLayerItem;
class TLayerView;
class TMainSettings;
class TPreviewPanel;
class TPreviewPlayer;
class TShellServices;
class TTrackBar2;

class TfrmWaterMark : public QDialog {
    Q_OBJECT
public:
    static constexpr int kViewWidth = 592;
    static constexpr int kViewHeight = 427;

    TfrmWaterMark(TMainSettings& settings, TShellServices& services, std::string helpPage,
                  QWidget* parent = nullptr);
    ~TfrmWaterMark() override;

    // Opens the row's file and shows the dialog modally.
    int Edit(TFileRow& row);
    // Prepares the dialog and opens the row's file, without showing it modally.
    bool Load(TFileRow& row);

    void AddTextClick();
    void AddImageClick();
    void DeleteClick();
    void UpClick();
    void DownClick();
    // The list's click handling: selects the entry's layer and shows its settings.
    void SelectEntry(int index);
    // Opens the in-place text editor over a text entry.
    void OpenTextEditor(int index);
    void OkClick();
    void CancelClick();
    void HelpClick();

    // A picture of the playing file at `pts` (µs): the time label, the preview bar, which layers
    // belong to the picture's second, and the picture under the layers.
    void ShowPicture(const QImage& picture, int64_t pts);

    TLayerView& View() { return *imgView_; }
    QListWidget& LayerList() { return *lsbox_; }
    // The layers in the list's order; the view layer at the same index shows each.
    const TWatermarkLayers& Layers() const { return layers_; }
    TLayerItem& LayerItem(int index) { return *items_.at(static_cast<size_t>(index)); }
    int SelectedEntry() const { return layers_.Selected(); }
    TTrackBar2& HorizontalBar() { return *trcHorz_; }
    TTrackBar2& VerticalBar() { return *trcVert_; }
    TTrackBar2& TransparencyBar() { return *trcAlpha_; }
    TTrackBar2& RangeBar() { return *trcRange_; }
    TTrackBar2& PreviewBar() { return *trcPreview_; }
    QRadioButton& BackgroundOption() { return *rbBackColor_; }
    QRadioButton& TransparentOption() { return *rbTransparent_; }
    QComboBox& FontColorList() { return *cmbFontColor_; }
    QComboBox& BackColorList() { return *cmbBackColor_; }
    QComboBox& FontList() { return *cmbFont_; }
    QComboBox& SizeList() { return *cmbSize_; }
    QCheckBox& BoldBox() { return *chkBold_; }
    QLineEdit& TextEditor() { return *edtText_; }
    QLineEdit& StartField() { return *edtStart_; }
    QLineEdit& EndField() { return *edtEnd_; }
    TPreviewPlayer& Preview() { return *preview_; }
    int64_t DurationUs() const;

    // The colour lists' entries in their order (names and colours), before the system colours.
    static const std::vector<std::pair<const char*, QColor>>& StandardColors();
    // The font a new text layer starts with: the system's sans-serif family when `families` holds
    // it, else the first of `families`.
    static QString DefaultFontFamily(const QStringList& families);

protected:
    void done(int result) override;

private:
    // The designed size, which the window keeps unless its captions need more room.
    static constexpr int kWidth = 902;
    static constexpr int kHeight = 712;

    // The window's parts, each returning the layout that places it (WatermarkDialogLayout.cpp).
    QBoxLayout* BuildPictureColumn();
    QBoxLayout* BuildLayerColumn();
    QBoxLayout* BuildLayerButtons();
    QBoxLayout* BuildLayerList();
    QBoxLayout* BuildPlaceBars();
    QBoxLayout* BuildTimeRange();
    QBoxLayout* BuildTextStyleRow();
    QBoxLayout* BuildFontStyleBoxes();
    QBoxLayout* BuildButtons();
    void ConnectView();
    void ConnectLayerControls();
    void ConnectTextControls();
    static void FillColorList(QComboBox& list);
    void ApplyDefaults();
    void ConnectPreview();
    void FileOpened(int64_t duration, int frameWidth, int frameHeight);
    // A picture from the player with the row's source crop outlined on it.
    void PictureArrived(QImage picture, int64_t pts);
    void RebuildFromRecord();
    // Appends the layer with a view layer and a list entry; returns its index.
    int AddEntry(const QString& caption, TWmRec layer);
    // The selected layer's view layer (null for none).
    TLayerItem* SelectedItem();
    // The selected layer when it is a text layer (null otherwise).
    TWmRec* SelectedText();
    void SelectAddedEntry(int index);
    void MoveEntry(int from, int to);
    void RemoveEntries();
    // Shows the model's selection in the list without the list's moves reaching the model.
    void ShowSelectionInList();
    void PaintTextLayer(int index);
    void RebuildSelectedText();
    void SetLayerControlsEnabled(bool enabled);
    void SetTextControlsEnabled(bool enabled);
    void ShowEntrySettings(int index);
    void ShowTextStyle(const TWmRec& rec);
    void ShowLayerPosition();
    void BackgroundOptionChosen(bool opaque);
    void TextStyleChanged();
    void PositionBarChanged(bool horizontal);
    void RangeChanged();
    void HideTextEditor();
    void CloseDown();
    TFontSpec FontFromControls() const;

    TShellServices& services_;
    std::string helpPage_;
    TFileRow* row_ = nullptr;
    TWatermarkLayers layers_;
    std::vector<TLayerItem*> items_; // the view layer of each of layers_, in the same order
    bool rebuilt_ = false;           // the list was filled from the row
    int editorEntry_ = -1;

    TLayerView* imgView_;
    TPreviewPanel* pan1_;
    QListWidget* lsbox_;
    QLineEdit* edtText_;
    QPushButton* btnAddText_;
    QPushButton* btnAddImage_;
    QPushButton* btnDelete_;
    QPushButton* btnUp_;
    QPushButton* btnDown_;
    TTrackBar2* trcHorz_;
    TTrackBar2* trcVert_;
    TTrackBar2* trcAlpha_;
    QLineEdit* edtHorz_;
    QLineEdit* edtVert_;
    QLineEdit* edtAlpha_;
    TTrackBar2* trcRange_;
    QLineEdit* edtStart_;
    QLineEdit* edtEnd_;
    QToolButton* rangeArrows_[4];
    QRadioButton* rbBackColor_;
    QRadioButton* rbTransparent_;
    QComboBox* cmbBackColor_;
    QComboBox* cmbFontColor_;
    QComboBox* cmbFont_;
    QComboBox* cmbSize_;
    QCheckBox* chkBold_;
    QCheckBox* chkItalic_;
    QCheckBox* chkUnderline_;
    QCheckBox* chkStrikeOut_;
    TTrackBar2* trcPreview_;
    QToolButton* btnPlay_;
    QToolButton* btnPause_;
    QLabel* lblTime_;
    QLabel* lblPTS_;
    std::unique_ptr<TPreviewPlayer> preview_;
};

} // namespace tarnel
