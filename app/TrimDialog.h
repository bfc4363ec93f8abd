// The trim dialog: the part of a file to convert, chosen with a start and an end marker on a range
// bar while the file plays, or typed as times; "Ok" stores it in the row.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPainter;
class QToolButton;

namespace tarnel {

class TFileRow;
class TMainSettings;
class TPreviewPanel;
class TPreviewPlayer;
class TTrackBar2;

class TfrmTrim : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRangeLeft = 32;
    static constexpr int kRangeWidth = 838;
    static constexpr int kRangeHeight = 20;

    explicit TfrmTrim(TMainSettings& settings, QWidget* parent = nullptr);
    ~TfrmTrim() override;

    // Opens the row's file and shows the dialog modally; `selectedFirst` says that the row had to be
    // selected for it (no row was).
    int Edit(TFileRow& row, bool selectedFirst);
    // Opens the file and reads the row's trim, without showing the dialog modally.
    bool Load(TFileRow& row, bool selectedFirst);

    void DefaultClick();
    void OkClick();

    int64_t Start() const { return start_; }
    int64_t End() const { return end_; }
    int64_t Duration() const { return duration_; }
    TTrackBar2& RangeBar() { return *trcPosition_; }
    TTrackBar2& PreviewBar() { return *trcPreview_; }
    TPreviewPlayer& Preview() { return *preview_; }
    int RightLimit() const { return rightLimit_; }
    int LeftX() const { return leftX_; }
    int RightX() const { return rightX_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    QHBoxLayout* BuildTransportRow();
    QHBoxLayout* BuildButtonRow();
    void ConnectPreview();
    void FileOpened(int64_t duration);
    void ShowPosition(int64_t pts);
    // The press/release rule and the drag rule of the range bar at x.
    void RangeClick(int x, bool dragging);
    // A typed start or end, kept within the file and in order; the markers follow.
    void TypedStart();
    void TypedEnd();
    int64_t TypedTime(QLineEdit& field, int64_t low, int64_t high);
    void PlaceMarkers();
    void MoveStartMarker(int x);
    void MoveEndMarker(int x);
    void DrawRangeBar(QPainter& painter);

    TFileRow* row_ = nullptr;
    int64_t start_ = 0;    // s
    int64_t end_ = 0;      // s
    int64_t duration_ = 0; // s, rounded
    int leftX_ = 0;
    int rightX_ = 0;
    int rightLimit_ = 0;

    TPreviewPanel* imgPreview_;
    TTrackBar2* trcPreview_;
    TTrackBar2* trcPosition_;
    QToolButton* btnPlay_;
    QToolButton* btnPause_;
    QToolButton* btnStop_;
    QLineEdit* edtStart_;
    QLineEdit* edtTrimLength_;
    QLabel* lblTime_;
    QLabel* lblPTS_;
    std::unique_ptr<TPreviewPlayer> preview_;
};

} // namespace tarnel
