// The output-folder chooser: a tree of folders; a folder on a read-only medium is refused.
#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QPushButton;
class QTreeView;

namespace tarnel {

class TShellServices;

class TfmDirectory : public QDialog {
    Q_OBJECT
public:
    explicit TfmDirectory(TShellServices& services, QWidget* parent = nullptr);

    // Shows and selects `folder` (the home folder when empty or missing).
    void SelectFolder(const QString& folder);
    QString SelectedFolder() const;
    // The chosen folder; empty when the chooser was cancelled or nothing was chosen.
    const QString& Result() const { return result_; }

    void OkClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowPending();

    TShellServices& services_;
    QFileSystemModel* model_;
    QTreeView* tree_;
    QPushButton* ok_;
    QString result_;
    QString pending_; // the folder to show once the model has read its way there
};

} // namespace tarnel
