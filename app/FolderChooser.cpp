#include "FolderChooser.h"

#include "TarnelApplication.h"
#include "core/GlobalObject.h"
#include "core/ShellServices.h"

#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace tarnel {

TfmDirectory::TfmDirectory(TShellServices& services, QWidget* parent)
    : QDialog(parent)
    , services_(services)
    , model_(new QFileSystemModel(this))
    , tree_(new QTreeView(this))
    , ok_(new QPushButton("Ok", this)) {
    setObjectName("fmDirectory");
    setWindowTitle("Browse");
    auto* label = new QLabel("Please select an output directory:", this);

    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath(QDir::rootPath());
    tree_->setObjectName("tvFolders");
    tree_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column)
        tree_->hideColumn(column);
    tree_->header()->hide();
    // A right click selects the folder under the pointer, as a left click does.
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex index = tree_->indexAt(pos);
        if (index.isValid())
            tree_->setCurrentIndex(index);
    });

    connect(model_, &QFileSystemModel::directoryLoaded, this, [this] { ShowPending(); });
    connect(tree_, &QTreeView::clicked, this, [this] { pending_.clear(); });

    auto* cancel = new QPushButton("Cancel", this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &TfmDirectory::OkClick);
    connect(cancel, &QPushButton::clicked, this, [this] {
        result_.clear();
        reject();
    });

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    for (QPushButton* button : {ok_, cancel}) {
        button->setMinimumSize(80, 26);
        buttons->addWidget(button);
    }
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(12, 10, 12, 11);
    page->setSpacing(4);
    page->addWidget(label);
    page->addWidget(tree_, 1);
    page->addSpacing(8);
    page->addLayout(buttons);
    // Its designed size; a larger font or scale makes it grow instead of clipping a caption.
    page->setSizeConstraint(QLayout::SetMinimumSize);
    resize(322, 351);
}

void TfmDirectory::SelectFolder(const QString& folder) {
    pending_ = !folder.isEmpty() && QDir(folder).exists() ? folder : QDir::homePath();
    ShowPending();
}

// The model reads folders in the background: the selection is made again as each level arrives,
// until the chosen folder shows.
void TfmDirectory::ShowPending() {
    if (pending_.isEmpty())
        return;
    const QModelIndex index = model_->index(pending_);
    if (!index.isValid())
        return;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        tree_->expand(parent);
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    tree_->viewport()->update();
}

// A tree scrolls only once it has its size: the selection is shown again after the window is.
void TfmDirectory::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QTimer::singleShot(0, this, [this] { ShowPending(); });
}

QString TfmDirectory::SelectedFolder() const {
    return model_->filePath(tree_->currentIndex());
}

void TfmDirectory::OkClick() {
    result_ = SelectedFolder();
    if (!result_.isEmpty() && TGlobalObject::IsOnReadOnlyMedium(result_.toStdString())) {
        result_.clear();
        services_.ShowMessage("Output folder cannot be located in CD-ROM.Please select another folder.",
                              ApplicationTitle().toStdString(), TMessageIcon::Information);
        return;
    }
    accept();
}

} // namespace tarnel
