// The main window's controls and their places in the fixed 914 × 566 window.
#include "MainWindow.h"
#include "TrackBar2.h"
#include "core/ShellServices.h"
#include "skin/SkinPictures.h"
#include "widgets/CatalogueList.h"
#include "widgets/FileListView.h"
#include "widgets/PreviewPanel.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

namespace tarnel {

namespace {

constexpr int kMargin = 8;
constexpr int kHeaderHeight = 34;
constexpr int kToolbarTop = 40;
constexpr int kListTop = 112;
constexpr int kListWidth = 520;
constexpr int kPanelLeft = kMargin + kListWidth + 8; // 536
constexpr int kPanelWidth = 370;
constexpr int kPanelHeight = 240;
constexpr int kBottomTop = 480;

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
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QLabel* Label(QWidget* parent, const QString& text, const QRect& geometry, const char* name = nullptr) {
    auto* label = new QLabel(text, parent);
    if (name)
        label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

} // namespace

void TfrmMain::BuildLayout() {
    setObjectName("frmMain");
    setFixedSize(kWidth, kHeight);
    setWindowIcon(skin::AppIcon());
    BuildMenus();
    BuildTopRow();
    BuildToolbar();

    lvFiles_ = new TFileListView(this);
    lvFiles_->setGeometry(kMargin, kListTop, kListWidth, kBottomTop - kListTop - 10);
    lvFiles_->SetBackground(skin::ListBackground(kListWidth, kBottomTop - kListTop - 10));

    BuildPreviewPanel();
    BuildBottomRow();

    memLog_ = new QPlainTextEdit(this);
    memLog_->setObjectName("memLog");
    memLog_->setReadOnly(true);
    memLog_->hide();
}

void TfrmMain::BuildMenus() {
    mnuFile_ = new QMenu(this);
    mnuFile_->setObjectName("mnuFile");
    mnuFile_->addAction("&Add", this, [this] { btnAddClick(); });
    mnuFile_->addAction("&Remove", this, [this] { btnRemoveClick(); });
    mnuFile_->addAction("&Clear", this, [this] { btnClearClick(); });
    mnuFile_->addAction("&Start");
    mnuFile_->addSeparator();
    mnuFile_->addAction("Se&ttings", this, [this] { ShowSettingsDialog(); });
    mnuFile_->addAction("&Exit", this, [this] { close(); });

    mnuEdit_ = new QMenu(this);
    mnuEdit_->setObjectName("mnuEdit");
    actEditCrop_ = mnuEdit_->addAction("&Crop");
    actEditTrim_ = mnuEdit_->addAction("&Trim");
    actEditEffect_ = mnuEdit_->addAction("&Video Effect && Water Mark");
    mnuEdit_->addSeparator();
    mnuEdit_->addAction("&Add", this, [this] { btnAddClick(); });
    actEditRemove_ = mnuEdit_->addAction("&Remove", this, [this] { btnRemoveClick(); });
    actEditClear_ = mnuEdit_->addAction("&Clear", this, [this] { btnClearClick(); });
    actEditStart_ = mnuEdit_->addAction("&Start");
    mnuEdit_->addSeparator();
    actEditInfo_ = mnuEdit_->addAction("Video &Information");
    connect(mnuEdit_, &QMenu::aboutToShow, this, [this] { UpdateEditMenu(); });

    mnuHelp_ = new QMenu(this);
    mnuHelp_->setObjectName("mnuHelp");
    mnuHelp_->addAction("&Help", this, [this] { services_.OpenUrl(global_->HelpUrl()); });
    mnuHelp_->addSeparator();
    mnuHelp_->addAction("&Support and Contact", this,
                        [this] { services_.OpenUrl(global_->WebsiteUrl() + "/support"); });
    mnuHelp_->addAction("&About");
}

void TfrmMain::FlatButtonMenu(QToolButton* button, QMenu* menu) {
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
}

void TfrmMain::BuildTopRow() {
    auto* header = new QWidget(this);
    header->setObjectName("pnlHeader");
    header->setGeometry(0, 0, kWidth, kHeaderHeight);

    int x = kMargin;
    const auto menuButton = [&](const char* name, const QString& caption) {
        auto* button = new QToolButton(header);
        button->setObjectName(name);
        button->setText(caption);
        button->setProperty("menuButton", true);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setGeometry(x, 5, 84, kHeaderHeight - 10);
        x += 86;
        return button;
    };
    FlatButtonMenu(menuButton("btnMenuFile", "File"), mnuFile_);
    FlatButtonMenu(menuButton("btnMenuEdit", "Edit"), mnuEdit_);
    QToolButton* preference = menuButton("btnMenuPreference", "Preference");
    connect(preference, &QToolButton::clicked, this, [this] { ShowPreferences(); });
    FlatButtonMenu(menuButton("btnMenuHelp", "Help"), mnuHelp_);
    QToolButton* website = menuButton("btnMenuWebsite", "Website");
    connect(website, &QToolButton::clicked, this, [this] { services_.OpenUrl(global_->WebsiteUrl()); });

    lblTitle_ = Label(header, {}, QRect(x + 12, 0, 220, kHeaderHeight), "lblTitle");

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
    int shareX = kWidth - kMargin - 7 * 24;
    for (int i = 0; i < 7; ++i) {
        auto* button = new QToolButton(header);
        button->setObjectName(QString("btnShare%1").arg(kServices[i]));
        button->setIcon(skin::ShareIcon(i));
        button->setIconSize(QSize(16, 16));
        button->setAutoRaise(true);
        button->setToolTip(kServices[i]);
        button->setFocusPolicy(Qt::NoFocus);
        button->setGeometry(shareX, 7, 22, 20);
        shareX += 24;
        const std::string url = kShareUrls[i];
        connect(button, &QToolButton::clicked, this,
                [this, url] { services_.OpenUrl(url + global_->WebsiteUrl()); });
    }
}

void TfrmMain::BuildToolbar() {
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
    int x = kMargin;
    for (const ToolDef& tool : tools) {
        *tool.button = PictureButton(this, tool.name, tool.caption, tool.picture, 32);
        (*tool.button)->setGeometry(x, kToolbarTop, 72, 64);
        x += 76;
    }
    btnStart_->setEnabled(false);
    btnRemove_->setEnabled(false);
    btnClear_->setEnabled(false);
}

void TfrmMain::BuildPreviewPanel() {
    using skin::TButtonPicture;
    pnlPreview_ = new TPreviewPanel(this);
    pnlPreview_->setGeometry(kPanelLeft, kListTop, kPanelWidth, kPanelHeight);
    imgStill_ = new QLabel(this);
    imgStill_->setObjectName("imgStill");
    imgStill_->setGeometry(pnlPreview_->geometry());
    imgStill_->hide();

    const int seekTop = kListTop + kPanelHeight + 6;
    trcPreview_ = new TTrackBar2(this);
    trcPreview_->setObjectName("trcPreview");
    trcPreview_->setGeometry(kPanelLeft, seekTop, kPanelWidth, 22);
    trcPreview_->SetThumbStyle(TTrackBar2::tsUserDrawn);
    trcPreview_->SetThumbSize(14);
    trcPreview_->SetTrackStyle(TTrackBar2::trUserDrawn);
    trcPreview_->SetTickStyle(TTrackBar2::tiUserDrawn);
    trcPreview_->setFocusPolicy(Qt::NoFocus);

    const int buttonsTop = seekTop + 28;
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
    int x = kPanelLeft;
    for (const PlayerButtonDef& def : buttons) {
        *def.button = PictureButton(this, def.name, {}, def.picture, 22, def.hint);
        (*def.button)->setGeometry(x, buttonsTop, 32, 30);
        x += 34;
    }
    btnMute_ = new QToolButton(this);
    btnMute_->setObjectName("btnMute");
    btnMute_->setIconSize(QSize(39, 25));
    btnMute_->setIcon(skin::MutePicture(false));
    btnMute_->setAutoRaise(true);
    btnMute_->setToolTip("Mute");
    btnMute_->setFocusPolicy(Qt::NoFocus);
    btnMute_->setGeometry(x + 8, buttonsTop + 1, 43, 28);

    trcVolume_ = new TTrackBar2(this);
    trcVolume_->setObjectName("trcVolume");
    trcVolume_->setGeometry(x + 56, buttonsTop + 4, kPanelLeft + kPanelWidth - (x + 56), 22);
    trcVolume_->SetThumbStyle(TTrackBar2::tsUserDrawn);
    trcVolume_->SetThumbSize(12);
    trcVolume_->SetTrackStyle(TTrackBar2::trUserDrawn);
    trcVolume_->SetTickStyle(TTrackBar2::tiUserDrawn);
    trcVolume_->SetMax(128);
    trcVolume_->setFocusPolicy(Qt::NoFocus);

    const int timeTop = buttonsTop + 38;
    lblTime_ = Label(this, "00:00:00 / ", QRect(kPanelLeft, timeTop, 80, 20), "lblTime");
    lblTime_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblDuration_ = Label(this, "00:00:00", QRect(kPanelLeft + 80, timeTop, 80, 20), "lblDuration");
}

void TfrmMain::BuildBottomRow() {
    Label(this, "Output Format:", QRect(kMargin, kBottomTop, 110, 24));
    edtFormat_ = new QLineEdit(this);
    edtFormat_->setObjectName("edtFormat");
    edtFormat_->setReadOnly(true);
    edtFormat_->setGeometry(kMargin + 112, kBottomTop, 420, 24);
    edtFormat_->setCursor(Qt::ArrowCursor);
    edtFormat_->installEventFilter(this);

    btnFormatArrow_ = new QToolButton(this);
    btnFormatArrow_->setObjectName("btnFormatArrow");
    btnFormatArrow_->setIcon(skin::ButtonPicture(skin::TButtonPicture::DropArrow, 16));
    btnFormatArrow_->setGeometry(edtFormat_->geometry().right() + 1, kBottomTop, 22, 24);
    btnFormatArrow_->setFocusPolicy(Qt::NoFocus);

    btnFormatSettings_ = new QPushButton("Settings", this);
    btnFormatSettings_->setObjectName("btnFormatSettings");
    btnFormatSettings_->setGeometry(btnFormatArrow_->geometry().right() + 8, kBottomTop, 84, 24);

    const int secondRow = kBottomTop + 34;
    Label(this, "Output Directory:", QRect(kMargin, secondRow, 110, 24));
    edtOutput_ = new QLineEdit(this);
    edtOutput_->setObjectName("edtOutput");
    edtOutput_->setReadOnly(true);
    edtOutput_->setGeometry(kMargin + 112, secondRow, 442, 24);
    btnBrowse_ = new QPushButton("Browse", this);
    btnBrowse_->setObjectName("btnBrowse");
    btnBrowse_->setGeometry(btnFormatSettings_->x(), secondRow, 84, 24);
    btnOpen_ = new QPushButton("Open", this);
    btnOpen_->setObjectName("btnOpen");
    btnOpen_->setGeometry(btnBrowse_->geometry().right() + 8, secondRow, 60, 24);

    btnStartBig_ = new QToolButton(this);
    btnStartBig_->setObjectName("btnStartBig");
    btnStartBig_->setIcon(skin::BigStartPicture());
    btnStartBig_->setIconSize(QSize(120, 56));
    btnStartBig_->setAutoRaise(true);
    btnStartBig_->setToolTip("Start");
    btnStartBig_->setGeometry(kWidth - kMargin - 124, kBottomTop - 2, 124, 62);
    btnStartBig_->setEnabled(false);

    lstFormat_ = new TCatalogueList(this);
}

} // namespace tarnel
