// The main window's controls and their layouts. At the designed 914 × 566 every control has its
// designed place; a larger window gives the extra width to the file list and the preview (which
// keeps its aspect), and the extra height to the list, while the output rows stay at the bottom.
#include "MainWindow.h"
#include "TrackBar2.h"
#include "core/ShellServices.h"
#include "skin/SkinPictures.h"
#include "widgets/CatalogueList.h"
#include "widgets/FileListView.h"
#include "widgets/PictureColumnLayout.h"
#include "widgets/PreviewPanel.h"

#include <QAction>
#include <QCursor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarnel {

namespace {

constexpr int kMargin = 8;
constexpr int kHeaderHeight = 34;
constexpr int kListWidth = 520;
constexpr int kPanelWidth = 370;
constexpr int kPanelHeight = 240;
constexpr int kBottomMargin = 26;

QToolButton* PictureButton(QWidget* parent, const char* name, const QString& caption,
                           skin::TButtonPicture picture, int iconSize, const QString& hint = {}) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setIcon(skin::ButtonPicture(picture, iconSize));
    button->setIconSize(QSize(iconSize, iconSize));
    button->setToolButtonStyle(caption.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setToolTip(hint.isEmpty() ? caption : hint);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QLabel* Label(const QString& text, const char* name = nullptr) {
    auto* label = new QLabel(text);
    if (name)
        label->setObjectName(name);
    return label;
}

QHBoxLayout* Row(int spacing) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    return row;
}

TTrackBar2* PlayerBar(const char* name, int thumbSize) {
    auto* bar = new TTrackBar2;
    bar->setObjectName(name);
    bar->setFixedHeight(22);
    bar->SetThumbStyle(TTrackBar2::tsUserDrawn);
    bar->SetThumbSize(thumbSize);
    bar->SetTrackStyle(TTrackBar2::trUserDrawn);
    bar->SetTickStyle(TTrackBar2::tiUserDrawn);
    bar->setFocusPolicy(Qt::NoFocus);
    return bar;
}

} // namespace

void TfrmMain::BuildLayout() {
    setObjectName("frmMain");
    setWindowIcon(skin::AppIcon());
    BuildMenus();

    lvFiles_ = new TFileListView;
    lvFiles_->setMinimumSize(TFileListView::kDesignedWidth, 240);
    auto* middle = Row(8);
    middle->addWidget(lvFiles_, kListWidth);
    middle->addWidget(BuildPreviewColumn(), kPanelWidth);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(kMargin, 6, kMargin, kBottomMargin);
    body->setSpacing(0);
    body->addLayout(BuildToolbar());
    body->addSpacing(8);
    body->addLayout(middle, 1);
    body->addSpacing(8);
    body->addLayout(BuildBottomRows());

    auto* window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addWidget(BuildHeader());
    window->addLayout(body, 1);
    resize(kWidth, kHeight);

    SetTabOrder();

    lstFormat_ = new TCatalogueList(this);
    memLog_ = new QPlainTextEdit(this);
    memLog_->setObjectName("memLog");
    memLog_->setReadOnly(true);
    memLog_->hide();
}

void TfrmMain::BuildMenus() {
    mnuFile_ = new QMenu(this);
    mnuFile_->setObjectName("mnuFile");
    QAction* add = mnuFile_->addAction("&Add", this, [this] { btnAddClick(); });
    mnuFile_->addAction("Add &Folder…", this, [this] { AddFolderClick(); });
    QAction* remove = mnuFile_->addAction("&Remove", this, [this] { btnRemoveClick(); });
    mnuFile_->addAction("&Clear", this, [this] { btnClearClick(); });
    QAction* start = mnuFile_->addAction("&Start");
    mnuFile_->addSeparator();
    mnuFile_->addAction("Se&ttings", this, [this] { ShowSettingsDialog(); });
    QAction* exit = mnuFile_->addAction("&Exit", this, [this] { close(); });

    mnuEdit_ = new QMenu(this);
    mnuEdit_->setObjectName("mnuEdit");
    actEditCrop_ = mnuEdit_->addAction("&Crop");
    actEditTrim_ = mnuEdit_->addAction("&Trim");
    actEditEffect_ = mnuEdit_->addAction("&Video Effect && Water Mark");
    mnuEdit_->addSeparator();
    QAction* editAdd = mnuEdit_->addAction("&Add", this, [this] { btnAddClick(); });
    actEditRemove_ = mnuEdit_->addAction("&Remove", this, [this] { btnRemoveClick(); });
    actEditClear_ = mnuEdit_->addAction("&Clear", this, [this] { btnClearClick(); });
    actEditStart_ = mnuEdit_->addAction("&Start");
    mnuEdit_->addSeparator();
    actEditInfo_ = mnuEdit_->addAction("Video &Information");
    connect(mnuEdit_, &QMenu::aboutToShow, this, [this] { UpdateEditMenu(); });

    mnuHelp_ = new QMenu(this);
    mnuHelp_->setObjectName("mnuHelp");
    QAction* help = mnuHelp_->addAction("&Help", this, [this] { services_.OpenUrl(global_->HelpUrl()); });
    mnuHelp_->addSeparator();
    mnuHelp_->addAction("&Support and Contact", this,
                        [this] { services_.OpenUrl(global_->WebsiteUrl() + "/support"); });
    mnuHelp_->addAction("&About");

    // The menus show the usual keys. The File and Help entries also take them anywhere in the
    // window; the Edit menu's copies show them only, so that no key has two owners.
    const std::pair<QAction*, QKeySequence> keys[] = {{add, QKeySequence::Open},
                                                      {remove, QKeySequence(Qt::Key_Delete)},
                                                      {start, QKeySequence(Qt::CTRL | Qt::Key_Return)},
                                                      {exit, QKeySequence(Qt::CTRL | Qt::Key_Q)},
                                                      {help, QKeySequence(Qt::Key_F1)}};
    for (const auto& [action, key] : keys) {
        action->setShortcut(key);
        addAction(action);
    }
    for (const auto& [action, key] : {std::pair{editAdd, keys[0].second},
                                      {actEditRemove_, keys[1].second},
                                      {actEditStart_, keys[2].second}}) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
    }
}

void TfrmMain::FlatButtonMenu(QToolButton* button, QMenu* menu) {
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
}

// A menu or a dialog over the header takes the mouse's leaving of a button: the button would stay
// drawn as hovered until the mouse passes over it again. Each button learns where the mouse is now.
void TfrmMain::ForgetHeaderHover() {
    for (QToolButton* button : findChild<QWidget*>("pnlHeader")->findChildren<QToolButton*>()) {
        button->setAttribute(Qt::WA_UnderMouse,
                             button->rect().contains(button->mapFromGlobal(QCursor::pos())));
        button->update();
    }
}

// Tab goes along the toolbar, into the list, over the player's controls beside it, then along the
// output rows to Start.
void TfrmMain::SetTabOrder() {
    QWidget* const order[] = {
        btnAdd_,      btnRemove_,         btnClear_,  btnSettings_, btnEdit_, btnStart_,    lvFiles_,
        btnPrevious_, btnPlay_,           btnPause_,  btnStop_,     btnNext_, btnSnapshot_, btnMute_,
        edtFormat_,   btnFormatSettings_, edtOutput_, btnBrowse_,   btnOpen_, btnStartBig_};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

QWidget* TfrmMain::BuildHeader() {
    auto* header = new QWidget;
    header->setObjectName("pnlHeader");
    header->setFixedHeight(kHeaderHeight);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(kMargin, 5, kMargin, 5);
    row->setSpacing(2);

    const auto menuButton = [&](const char* name, const QString& caption) {
        auto* button = new QToolButton;
        button->setObjectName(name);
        button->setText(caption);
        button->setProperty("menuButton", true);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setMinimumSize(84, kHeaderHeight - 10);
        row->addWidget(button);
        return button;
    };
    FlatButtonMenu(menuButton("btnMenuFile", "File"), mnuFile_);
    FlatButtonMenu(menuButton("btnMenuEdit", "Edit"), mnuEdit_);
    QToolButton* preference = menuButton("btnMenuPreference", "Preference");
    connect(preference, &QToolButton::clicked, this, [this] { ShowPreferences(); });
    FlatButtonMenu(menuButton("btnMenuHelp", "Help"), mnuHelp_);
    QToolButton* website = menuButton("btnMenuWebsite", "Website");
    connect(website, &QToolButton::clicked, this, [this] { services_.OpenUrl(global_->WebsiteUrl()); });
    for (QMenu* menu : {mnuFile_, mnuEdit_, mnuHelp_})
        connect(menu, &QMenu::aboutToHide, this, [this] { ForgetHeaderHover(); });

    row->addSpacing(12);
    lblTitle_ = Label({}, "lblTitle");
    lblTitle_->setMinimumWidth(220);
    row->addWidget(lblTitle_);
    row->addStretch(1);

    // Sharing buttons, right-aligned.
    static const char* const kServices[] = {"Facebook", "Google",      "Twitter", "Delicious",
                                            "Digg",     "Stumbleupon", "Reddit"};
    static const char* const kShareUrls[] = {"https://www.facebook.com/sharer/sharer.php?u=",
                                             "https://www.google.com/search?q=",
                                             "https://twitter.com/intent/tweet?url=",
                                             "https://del.icio.us/post?url=",
                                             "https://digg.com/submit?url=",
                                             "https://www.stumbleupon.com/submit?url=",
                                             "https://www.reddit.com/submit?url="};
    for (int i = 0; i < 7; ++i) {
        auto* button = new QToolButton;
        button->setObjectName(QString("btnShare%1").arg(kServices[i]));
        button->setIcon(skin::ShareIcon(i));
        button->setIconSize(QSize(16, 16));
        button->setAutoRaise(true);
        button->setToolTip(kServices[i]);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(22, 20);
        row->addWidget(button);
        const std::string url = kShareUrls[i];
        connect(button, &QToolButton::clicked, this,
                [this, url] { services_.OpenUrl(url + global_->WebsiteUrl()); });
    }
    return header;
}

QHBoxLayout* TfrmMain::BuildToolbar() {
    using skin::TButtonPicture;
    struct ToolDef {
        QToolButton** button;
        const char* name;
        const char* caption;
        TButtonPicture picture;
    };
    const ToolDef tools[] = {{&btnAdd_, "btnAdd", "Add", TButtonPicture::Add},
                             {&btnRemove_, "btnRemove", "Remove", TButtonPicture::Remove},
                             {&btnClear_, "btnClear", "Clear", TButtonPicture::Clear},
                             {&btnSettings_, "btnSettings", "Settings", TButtonPicture::Settings},
                             {&btnEdit_, "btnEdit", "Edit", TButtonPicture::Edit},
                             {&btnStart_, "btnStart", "Start", TButtonPicture::Start}};
    QHBoxLayout* row = Row(4);
    for (const ToolDef& tool : tools) {
        *tool.button = PictureButton(this, tool.name, tool.caption, tool.picture, 32);
        (*tool.button)->setMinimumSize(72, 64);
        row->addWidget(*tool.button);
    }
    row->addStretch(1);
    btnStart_->setEnabled(false);
    btnRemove_->setEnabled(false);
    btnClear_->setEnabled(false);
    return row;
}

QWidget* TfrmMain::BuildPreviewColumn() {
    using skin::TButtonPicture;
    auto* picture = new QWidget;
    auto* stack = new QGridLayout(picture);
    stack->setContentsMargins(0, 0, 0, 0);
    pnlPreview_ = new TPreviewPanel;
    imgStill_ = new QLabel;
    imgStill_->setObjectName("imgStill");
    imgStill_->hide();
    stack->addWidget(pnlPreview_, 0, 0);
    stack->addWidget(imgStill_, 0, 0);

    trcPreview_ = PlayerBar("trcPreview", 14);

    struct PlayerButtonDef {
        QToolButton** button;
        const char* name;
        const char* hint;
        TButtonPicture picture;
    };
    const PlayerButtonDef buttons[] = {{&btnPrevious_, "btnPrevious", "Previous", TButtonPicture::Previous},
                                       {&btnPlay_, "btnPlay", "Play", TButtonPicture::Play},
                                       {&btnPause_, "btnPause", "Pause", TButtonPicture::Pause},
                                       {&btnStop_, "btnStop", "Stop", TButtonPicture::Stop},
                                       {&btnNext_, "btnNext", "Next", TButtonPicture::Next},
                                       {&btnSnapshot_, "btnSnapshot", "Snapshot", TButtonPicture::Snapshot}};
    auto* transport = new QWidget;
    QHBoxLayout* transportRow = Row(2);
    transport->setLayout(transportRow);
    for (const PlayerButtonDef& def : buttons) {
        *def.button = PictureButton(this, def.name, {}, def.picture, 22, def.hint);
        (*def.button)->setFixedSize(32, 30);
        transportRow->addWidget(*def.button);
    }
    btnMute_ = new QToolButton;
    btnMute_->setObjectName("btnMute");
    btnMute_->setIconSize(QSize(39, 25));
    btnMute_->setIcon(skin::MutePicture(false));
    btnMute_->setAutoRaise(true);
    btnMute_->setToolTip("Mute");
    btnMute_->setFocusPolicy(Qt::TabFocus);
    btnMute_->setFixedSize(43, 28);
    transportRow->addSpacing(8);
    transportRow->addWidget(btnMute_);
    trcVolume_ = PlayerBar("trcVolume", 12);
    trcVolume_->SetMax(128);
    transportRow->addSpacing(5);
    transportRow->addWidget(trcVolume_, 1);

    auto* times = new QWidget;
    QHBoxLayout* timesRow = Row(0);
    times->setLayout(timesRow);
    lblTime_ = Label("00:00:00 / ", "lblTime");
    lblTime_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblTime_->setMinimumWidth(80);
    lblDuration_ = Label("00:00:00", "lblDuration");
    lblDuration_->setMinimumWidth(80);
    timesRow->addWidget(lblTime_);
    timesRow->addWidget(lblDuration_);
    timesRow->addStretch(1);
    times->setFixedHeight(std::max(20, times->sizeHint().height()));

    auto* column = new QWidget;
    auto* layout = new TPictureColumnLayout(column, QSize(kPanelWidth, kPanelHeight));
    layout->setSpacing(6);
    layout->addWidget(picture);
    layout->addWidget(trcPreview_);
    layout->addWidget(transport);
    layout->addWidget(times);
    return column;
}

QGridLayout* TfrmMain::BuildBottomRows() {
    edtFormat_ = new QLineEdit;
    edtFormat_->setObjectName("edtFormat");
    edtFormat_->setReadOnly(true);
    edtFormat_->setMinimumWidth(420);
    edtFormat_->setCursor(Qt::ArrowCursor);
    edtFormat_->installEventFilter(this);

    btnFormatArrow_ = new QToolButton;
    btnFormatArrow_->setObjectName("btnFormatArrow");
    btnFormatArrow_->setIcon(skin::ButtonPicture(skin::TButtonPicture::DropArrow, 16));
    btnFormatArrow_->setFixedSize(22, 24);
    btnFormatArrow_->setFocusPolicy(Qt::NoFocus);

    btnFormatSettings_ = new QPushButton("Settings");
    btnFormatSettings_->setObjectName("btnFormatSettings");
    btnFormatSettings_->setMinimumWidth(84);

    edtOutput_ = new QLineEdit;
    edtOutput_->setObjectName("edtOutput");
    edtOutput_->setReadOnly(true);
    btnBrowse_ = new QPushButton("Browse");
    btnBrowse_->setObjectName("btnBrowse");
    btnBrowse_->setMinimumWidth(84);
    btnOpen_ = new QPushButton("Open");
    btnOpen_->setObjectName("btnOpen");
    btnOpen_->setMinimumWidth(60);

    btnStartBig_ = new QToolButton;
    btnStartBig_->setObjectName("btnStartBig");
    btnStartBig_->setIcon(skin::BigStartPicture());
    btnStartBig_->setIconSize(QSize(120, 56));
    btnStartBig_->setAutoRaise(true);
    btnStartBig_->setToolTip("Start");
    btnStartBig_->setFocusPolicy(Qt::TabFocus);
    btnStartBig_->setFixedSize(124, 62);
    btnStartBig_->setEnabled(false);

    auto* rows = new QGridLayout;
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setHorizontalSpacing(8);
    rows->setVerticalSpacing(10);
    auto* formatField = Row(1);
    formatField->addWidget(edtFormat_, 1);
    formatField->addWidget(btnFormatArrow_);
    rows->addWidget(Label("Output Format:"), 0, 0);
    rows->addLayout(formatField, 0, 1);
    rows->addWidget(btnFormatSettings_, 0, 2);
    rows->addWidget(Label("Output Directory:"), 1, 0);
    rows->addWidget(edtOutput_, 1, 1);
    rows->addWidget(btnBrowse_, 1, 2);
    rows->addWidget(btnOpen_, 1, 3);
    rows->setColumnMinimumWidth(0, 104);
    rows->setColumnStretch(1, 1);
    rows->setColumnMinimumWidth(4, 40);
    rows->addWidget(btnStartBig_, 0, 5, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
    return rows;
}

} // namespace tarnel
