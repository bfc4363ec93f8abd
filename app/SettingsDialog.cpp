#include "SettingsDialog.h"

#include "TarnelApplication.h"
#include "core/Catalogue.h"
#include "core/IniFile.h"
#include "core/MainSettings.h"
#include "core/ProfileChoices.h"
#include "core/ProfileFile.h"
#include "core/ShellServices.h"
#include "skin/SkinPictures.h"
#include "widgets/CatalogueList.h"
#include "widgets/DialogBars.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarnel {

namespace {

constexpr int kCatalogueMaxHeight = 247;
constexpr QSize kDesignedSize(475, 420);

// The column of captions and lists inside a group box.
QVBoxLayout* GroupFields(QGroupBox* group) {
    auto* fields = new QVBoxLayout(group);
    fields->setContentsMargins(7, 8, 7, 7); // the list 10 pixels in from the group's edge
    fields->setSpacing(0);
    return fields;
}

// The entries of the dialog's lists: the focused one on the selection colour in a frame.
class TEntryDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        const QRect rect = option.rect;
        if (option.state & (QStyle::State_Selected | QStyle::State_HasFocus)) {
            painter->fillRect(rect, QColor(185, 204, 236));
            painter->setPen(QColor(122, 160, 218));
            painter->drawRect(rect.adjusted(0, 0, -1, -1));
        } else {
            painter->fillRect(rect, Qt::white);
        }
        painter->setPen(option.state & QStyle::State_Enabled ? Qt::black : Qt::gray);
        const QRect textRect = rect.adjusted(3, 0, -2, 0);
        const QString text =
            option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, textRect.width());
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }
};

// The value of a list as written: the entry chosen, or -1 when none is (a typed value).
int SelectedEntry(const QComboBox& list) {
    const int index = list.currentIndex();
    if (index < 0)
        return -1;
    if (list.isEditable() && list.currentText() != list.itemText(index))
        return -1;
    return index;
}

bool IsIntegerText(const QString& text) {
    int32_t ignored = 0;
    return TryStrToInt(text.toStdString(), ignored);
}

bool IsNumberText(const QString& text) {
    double ignored = 0;
    return TryStrToFloat(text.toStdString(), ignored);
}

// Digits, with one point where `fraction`, or the "as source" entry.
bool IsNumericalText(const QString& text, bool fraction) {
    if (text.compare("as source", Qt::CaseInsensitive) == 0)
        return true;
    static const QRegularExpression whole(QRegularExpression::anchoredPattern("[0-9]+"));
    static const QRegularExpression withFraction(QRegularExpression::anchoredPattern("[0-9]+(\\.[0-9]*)?"));
    return (fraction ? withFraction : whole).match(text).hasMatch();
}

int EvenOrTwo(int value) {
    const int even = value - value % 2;
    return even == 0 ? 2 : even;
}

// "Normalise loudness": off, or the two usual targets.
struct TLoudnessChoice {
    const char* Caption;
    double Lufs; // 0: off
};
constexpr TLoudnessChoice kLoudnessChoices[] = {
    {"Off", 0}, {"\u221223 LUFS (broadcast)", -23}, {"\u221216 LUFS (streaming and podcasts)", -16}};

} // namespace

TfrmSettings::TfrmSettings(TMainSettings& settings, std::string profileFile, TShellServices& services,
                           std::function<void()> confirmed, QWidget* parent)
    : QDialog(parent)
    , settings_(settings)
    , profileFile_(std::move(profileFile))
    , services_(services)
    , confirmed_(std::move(confirmed)) {
    setObjectName("frmSettings");
    setWindowTitle("Settings");

    auto* video = new QGroupBox("Video Options", this);
    auto* videoFields = GroupFields(video);
    videoSize_ = AddList(*videoFields, "Frame Size:", "cmbVideoSize", true);
    videoBitRate_ = AddList(*videoFields, "BitRate (Kbps):", "cmbVideoBitRate", true);
    videoEncoder_ = AddList(*videoFields, "Encoder:", "cmbVideoEncoder", false);
    frameRate_ = AddList(*videoFields, "FrameRate (Fps):", "cmbFrameRate", true);
    zoom_ = AddList(*videoFields, "Zoom:", "cmbZoom", false);
    zoom_->addItems({"Full screen", "Letterbox", "Pan and Scan"});
    videoFields->addStretch(1);

    auto* audio = new QGroupBox("Audio Options", this);
    auto* audioFields = GroupFields(audio);
    sampleRate_ = AddList(*audioFields, "SampleRate (Hz):", "cmbSampleRate", true);
    audioBitRate_ = AddList(*audioFields, "BitRate (Kbps):", "cmbAudioBitRate", true);
    audioEncoder_ = AddList(*audioFields, "Encoder:", "cmbAudioEncoder", false);
    channel_ = AddList(*audioFields, "Channel:", "cmbChannel", false);
    volume_ = AddList(*audioFields, "Volume:", "cmbVolume", false);
    audioTracks_ = AddList(*audioFields, "Audio tracks:", "cmbAudioTracks", false);
    audioTracks_->addItems({"First", "All"});
    loudness_ = AddList(*audioFields, "Normalise loudness:", "cmbLoudness", false);
    for (const TLoudnessChoice& choice : kLoudnessChoices)
        loudness_->addItem(choice.Caption);
    audioFields->addStretch(1);

    auto* groups = new QHBoxLayout;
    groups->setSpacing(11);
    groups->addWidget(video, 1);
    groups->addWidget(audio, 1);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(12, 14, 12, 16);
    page->setSpacing(0);
    page->addLayout(BuildFormatRow());
    page->addSpacing(12);
    page->addLayout(groups, 1);
    page->addSpacing(26);
    page->addLayout(BuildButtonRow());
    // Its designed size; a larger font or scale makes it grow instead of clipping a caption.
    page->setSizeConstraint(QLayout::SetMinimumSize);
    resize(kDesignedSize);

    lstFormat_ = new TCatalogueList(this);
    connect(lstFormat_, &TCatalogueList::ProfileChosen, this, &TfrmSettings::ChooseProfile);
    connect(btnArrow_, &QToolButton::clicked, this, [this] {
        if (lstFormat_->isVisible())
            lstFormat_->hide();
        else
            OpenCatalogue();
    });
    connect(qApp, &QApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive)
            lstFormat_->hide();
    });
}

// The output format field with its arrow, which open the dialog's catalogue list under the field.
QHBoxLayout* TfrmSettings::BuildFormatRow() {
    auto* formatLabel = new QLabel("Output Format:", this);
    formatLabel->setMinimumWidth(96);
    edtFormat_ = new QLineEdit(this);
    edtFormat_->setObjectName("edtFormat");
    edtFormat_->setReadOnly(true);
    edtFormat_->setMinimumHeight(24);
    edtFormat_->setTextMargins(4, 2, 0, 0);
    edtFormat_->setCursor(Qt::ArrowCursor);
    edtFormat_->setStyleSheet("background-color: rgb(246,247,248);");
    edtFormat_->installEventFilter(this);
    btnArrow_ = new QToolButton(this);
    btnArrow_->setObjectName("btnFormatArrow");
    btnArrow_->setIcon(skin::ButtonPicture(skin::TButtonPicture::DropArrow, 16));
    btnArrow_->setMinimumSize(24, 24);
    btnArrow_->setFocusPolicy(Qt::NoFocus);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->addWidget(formatLabel);
    row->addSpacing(4);
    row->addWidget(edtFormat_, 1);
    row->addSpacing(1);
    row->addWidget(btnArrow_);
    return row;
}

QHBoxLayout* TfrmSettings::BuildButtonRow() {
    auto* defaults = new QPushButton("&Default", this);
    auto* ok = new QPushButton("&Ok", this);
    ok->setDefault(true);
    auto* cancel = new QPushButton("&Cancel", this);
    connect(defaults, &QPushButton::clicked, this, &TfrmSettings::DefaultClick);
    connect(ok, &QPushButton::clicked, this, &TfrmSettings::OkClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    return MakeButtonRow(defaults, ok, cancel);
}

// A caption above its list, in a group's column of fields.
QComboBox* TfrmSettings::AddList(QVBoxLayout& fields, const char* caption, const char* name, bool editable) {
    auto* list = new QComboBox;
    list->setObjectName(name);
    list->setEditable(editable);
    list->setInsertPolicy(QComboBox::NoInsert);
    list->setMaxVisibleItems(30); // every entry when dropped down
    list->setMinimumSize(200, 24);
    list->setItemDelegate(new TEntryDelegate(list));
    if (editable) {
        list->setCompleter(nullptr); // "500" stays 500: no entry completes what is typed
        list->lineEdit()->installEventFilter(this);
    }
    if (fields.count() > 0)
        fields.addSpacing(2);
    auto* label = new QLabel(caption);
    label->setMinimumHeight(18);
    fields.addWidget(label);
    fields.addWidget(list);
    return list;
}

QComboBox& TfrmSettings::List(const char* name) {
    return *findChild<QComboBox*>(name);
}

void TfrmSettings::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    qApp->installEventFilter(this); // a left press anywhere else hides the catalogue list
    LoadSettings();
}

void TfrmSettings::hideEvent(QHideEvent* event) {
    qApp->removeEventFilter(this);
    QDialog::hideEvent(event);
}

void TfrmSettings::LoadSettings() {
    resize(kDesignedSize); // the layout keeps it from clipping a caption
    lstFormat_->hide();
    lstFormat_->Fill(settings_);
    code_ = settings_.File().ReadString(kSettingsSection, "FormatCode", "1");
    name_ = settings_.File().ReadString(kSettingsSection, "FormatName", "iPod Video MPEG-4");
    edtFormat_->setText(QString::fromStdString(name_));
    lstFormat_->SelectCaption(edtFormat_->text());
    TProfileFile profiles(profileFile_);
    FillLists(profiles);
    SelectFromUserSection(true);
    UpdateEnabling();
}

// Every piece of a list key becomes an entry, empty ones too; a missing key disables its list, and
// so does an empty one for the encoders and the audio lists.
void TfrmSettings::FillLists(TProfileFile& profiles) {
    int32_t code = 0;
    TryStrToInt(code_, code);
    const struct {
        QComboBox* list;
        const char* key;
        bool emptyDisables;
    } lists[] = {{videoSize_, "VideoSize", false},
                 {videoBitRate_, "VideoBitRate", false},
                 {videoEncoder_, "VideoEncoder", true},
                 {frameRate_, "FrameRate", false},
                 {sampleRate_, "SampleRate", true},
                 {audioBitRate_, "AudioBitRate", true},
                 {audioEncoder_, "AudioEncoder", true},
                 {channel_, "Channel", true},
                 {volume_, "Volume", true}};
    for (const auto& [list, key, emptyDisables] : lists) {
        list->clear();
        const std::string text = profiles.ReadString(code, key, "null");
        const bool usable = text != "null" && !(emptyDisables && text.empty());
        if (usable)
            for (const std::string& entry : SplitProfileList(text))
                list->addItem(QString::fromStdString(entry));
        list->setEnabled(usable);
    }
}

// Each list takes the entry of its index key; with `typedValues`, a negative index shows the value
// the user typed instead.
void TfrmSettings::SelectFromUserSection(bool typedValues) {
    const std::string section = "formatInfo" + code_;
    TIniFile& ini = settings_.File();
    // Until the user confirms the dialog for a profile, its conversions use the profile's own default
    // entries and a letterbox: the dialog shows those.
    if (!ini.SectionExists(section)) {
        DefaultClick();
        zoom_->setCurrentIndex(1);
        SelectAudioTracks();
        SelectLoudness();
        return;
    }
    const struct {
        QComboBox* list;
        const char* indexKey;
        const char* valueKey; // nullptr: no typed value
        const char* typedDefault;
    } lists[] = {{videoSize_, "iVideoSize", "paraVideoSize", "320x240"},
                 {videoBitRate_, "iVideoBitRate", "paraVideoBitRate", "800"},
                 {videoEncoder_, "iVideoEncoder", nullptr, nullptr},
                 {frameRate_, "iFrameRate", "paraFrameRate", "25"},
                 {sampleRate_, "iSampleRate", "paraSampleRate", "44100"},
                 {audioBitRate_, "iAudioBitRate", "paraAudioBitRate", "96"},
                 {audioEncoder_, "iAudioEncoder", nullptr, nullptr},
                 {channel_, "iChannel", nullptr, nullptr},
                 {volume_, "iVolume", nullptr, nullptr}};
    for (const auto& [list, indexKey, valueKey, typedDefault] : lists) {
        const int index = ini.ReadInteger(section, indexKey, 0);
        if (index < 0 && valueKey && typedValues) {
            list->setCurrentIndex(-1);
            list->setEditText(QString::fromStdString(ini.ReadString(section, valueKey, typedDefault)));
        } else {
            list->setCurrentIndex(index < list->count() ? index : -1);
        }
    }
    SelectAudioTracks();
    SelectLoudness();
    const std::string zoom = ini.ReadString(section, "paraZoom", "full");
    zoom_->setCurrentIndex(zoom == "full" ? 0 : zoom == "lbox" ? 1 : zoom == "pan" ? 2 : -1);
}

// Without an encoder list a whole group is disabled (grey); with one, each of its lists that has
// entries is enabled, and a list the profile does not offer stays disabled.
void TfrmSettings::UpdateEnabling() {
    const bool video = videoEncoder_->count() > 0;
    for (QComboBox* list : {videoSize_, videoBitRate_, videoEncoder_, frameRate_, zoom_})
        list->setEnabled(video && list->count() > 0);
    const bool audio = audioEncoder_->count() > 0;
    for (QComboBox* list : {sampleRate_, audioBitRate_, audioEncoder_, channel_, volume_})
        list->setEnabled(audio && list->count() > 0);
    audioTracks_->setEnabled(audio);
    loudness_->setEnabled(audio);
}

void TfrmSettings::SelectLoudness() {
    int32_t code = 0;
    TryStrToInt(code_, code);
    const double lufs = settings_.Loudness(code);
    loudness_->setCurrentIndex(0);
    for (size_t i = 0; i < std::size(kLoudnessChoices); ++i)
        if (kLoudnessChoices[i].Lufs == lufs)
            loudness_->setCurrentIndex(static_cast<int>(i));
}

void TfrmSettings::SelectAudioTracks() {
    int32_t code = 0;
    TryStrToInt(code_, code);
    audioTracks_->setCurrentIndex(LowerCase(settings_.AudioTracks(code)) == "all" ? 1 : 0);
}

void TfrmSettings::OpenCatalogue() {
    lstFormat_->SelectCaption(edtFormat_->text());
    const QRect field = edtFormat_->geometry();
    const int height = lstFormat_->PreferredHeight(kCatalogueMaxHeight);
    lstFormat_->setGeometry(field.left(), field.bottom() - 1, field.width(), height);
    lstFormat_->show();
    lstFormat_->raise();
    lstFormat_->setFocus();
}

void TfrmSettings::ChooseProfile(const QString& caption, int code) {
    name_ = caption.toStdString();
    code_ = std::to_string(code);
    edtFormat_->setText(caption);
    lstFormat_->hide();
    TProfileFile profiles(profileFile_);
    FillLists(profiles);
    SelectFromUserSection(false);
    UpdateEnabling();
}

void TfrmSettings::DefaultClick() {
    TProfileFile profiles(profileFile_);
    int32_t code = 0;
    TryStrToInt(code_, code);
    const std::pair<QComboBox*, const char*> lists[] = {{videoSize_, "iVideoSize"},
                                                        {frameRate_, "iFrameRate"},
                                                        {videoBitRate_, "iVideoBitRate"},
                                                        {videoEncoder_, "iVideoEncoder"},
                                                        {audioBitRate_, "iAudioBitRate"},
                                                        {channel_, "iChannel"},
                                                        {volume_, "iVolume"},
                                                        {sampleRate_, "iSampleRate"},
                                                        {audioEncoder_, "iAudioEncoder"}};
    for (const auto& [list, key] : lists) {
        int32_t index = 0;
        TryStrToInt(profiles.ReadString(code, key, "0"), index);
        list->setCurrentIndex(index < list->count() ? index : -1);
    }
    zoom_->setCurrentIndex(0);
    audioTracks_->setCurrentIndex(0);
    loudness_->setCurrentIndex(0);
}

void TfrmSettings::OkClick() {
    if (!CheckTypedValues())
        return;
    const std::string section = "formatInfo" + code_;
    TIniFile& ini = settings_.File();
    ini.WriteString(section, "Description", name_);
    const std::pair<const char*, QComboBox*> indexes[] = {
        {"iVideoSize", videoSize_},       {"iVideoBitRate", videoBitRate_},
        {"iVideoEncoder", videoEncoder_}, {"iFrameRate", frameRate_},
        {"iSampleRate", sampleRate_},     {"iAudioBitRate", audioBitRate_},
        {"iChannel", channel_},           {"iVolume", volume_},
        {"iAudioEncoder", audioEncoder_}};
    for (const auto& [key, list] : indexes)
        ini.WriteInteger(section, key, SelectedEntry(*list));
    ini.WriteString(section, "paraVideoSize", videoSize_->currentText().toStdString());
    ini.WriteString(section, "paraVideoBitRate", videoBitRate_->currentText().toStdString());
    ini.WriteString(section, "paraFrameRate", frameRate_->currentText().toStdString());
    static const char* const kZooms[] = {"full", "lbox", "pan", "center"};
    if (zoom_->currentIndex() >= 0)
        ini.WriteString(section, "paraZoom", kZooms[zoom_->currentIndex()]);

    const std::string videoEntry = videoEncoder_->currentText().toStdString();
    const std::string videoEncoder = VideoEncoderValue(videoEntry);
    if (!videoEncoder.empty())
        ini.WriteString(section, "paraVideoEncoder", videoEncoder);
    if (LowerCase(videoEntry) == "h264") {
        TProfileFile profiles(profileFile_);
        int32_t code = 0;
        TryStrToInt(code_, code);
        CopyH264Extras(profiles, code, ini, section);
    }
    ini.WriteString(section, "paraSampleRate", sampleRate_->currentText().toStdString());
    ini.WriteString(section, "paraAudioBitRate", audioBitRate_->currentText().toStdString());
    const std::string channel = ChannelValue(channel_->currentText().toStdString());
    if (!channel.empty())
        ini.WriteString(section, "paraChannel", channel);
    if (volume_->currentIndex() >= 0) {
        const std::string volume = VolumeValue(volume_->currentText().toStdString());
        if (!volume.empty())
            ini.WriteString(section, "paraVolume", volume);
    }
    const std::string audioEntry = audioEncoder_->currentText().toStdString();
    const std::string audioEncoder = AudioEncoderValue(audioEntry);
    if (!audioEncoder.empty()) {
        ini.WriteString(section, "paraAudioEncoder", audioEncoder);
        if (LowerCase(audioEntry) == "gsm") {
            ini.WriteString(section, "paraSampleRate", "8000");
            ini.WriteString(section, "paraChannel", "1");
        }
    }
    ini.WriteString(section, "paraAudioTracks", audioTracks_->currentIndex() == 1 ? "All" : "First");
    int32_t code = 0;
    TryStrToInt(code_, code);
    settings_.SetLoudness(code, kLoudnessChoices[std::max(0, loudness_->currentIndex())].Lufs);
    lstFormat_->SaveGroupStates(settings_);
    ini.WriteString(kSettingsSection, "FormatName", name_);
    ini.WriteString(kSettingsSection, "FormatCode", code_);
    if (confirmed_)
        confirmed_();
    accept();
}

// --- Typing and leaving the editable boxes ----------------------------------------------------------

void TfrmSettings::Message(const std::string& text) {
    services_.ShowMessage(text, ApplicationTitle().toStdString(), TMessageIcon::None);
}

void TfrmSettings::SelectSecondEntry(QComboBox* list) {
    if (list->count() > 1)
        list->setCurrentIndex(1);
}

// The frame size takes digits and one "x"; the number boxes take any key and are checked when
// left, so that a wrong key gives one message and not one per key.
bool TfrmSettings::RefuseKey(QObject* watched, int key, const QString& text) {
    if (watched != videoSize_->lineEdit() || key == Qt::Key_Backspace || text.isEmpty() ||
        !text.at(0).isPrint())
        return false;
    const QChar c = text.at(0);
    const bool allowed = c.isDigit() || (c == 'x' && !videoSize_->currentText().contains('x'));
    if (!allowed)
        QApplication::beep();
    return !allowed;
}

// The editable box whose text field `watched` is; nullptr for any other object.
QComboBox* TfrmSettings::TypedBox(QObject* watched) const {
    for (QComboBox* list : {videoSize_, videoBitRate_, frameRate_, sampleRate_, audioBitRate_})
        if (list && watched == list->lineEdit()) // the boxes not made yet are null
            return list;
    return nullptr;
}

// A number box takes digits (and a point where fractions make sense) before its own check; the
// first refusal gives the only message and puts a usable entry back.
bool TfrmSettings::CheckTyped(QComboBox* list) {
    if (list == videoSize_)
        return CheckFrameSize();
    const bool fraction = list == frameRate_ || list == audioBitRate_;
    if (!IsNumericalText(list->currentText(), fraction)) {
        Message("Please enter numerical.");
        SelectSecondEntry(list);
        return false;
    }
    if (list == videoBitRate_)
        return CheckVideoBitRate();
    if (list == audioBitRate_)
        return CheckAudioBitRate();
    if (list == sampleRate_)
        return CheckSampleRate();
    return true;
}

// Before "&Ok" writes: the first enabled box whose text is refused takes the focus.
bool TfrmSettings::CheckTypedValues() {
    for (QComboBox* list : {videoSize_, videoBitRate_, frameRate_, sampleRate_, audioBitRate_}) {
        if (list->isEnabled() && !CheckTyped(list)) {
            list->setFocus();
            return false;
        }
    }
    return true;
}

// Leaving a box checks it, unless the focus goes to the dialog's buttons ("&Ok" checks anyway,
// "&Cancel" and "&Default" drop the text), to the box's own list, or away with the window (a
// message box taking it included).
void TfrmSettings::LeaveTyped(QComboBox* list, Qt::FocusReason reason) {
    const auto* button = qobject_cast<QPushButton*>(QApplication::focusWidget());
    if (checking_ || reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason ||
        (button && button->window() == this))
        return;
    checking_ = true;
    CheckTyped(list);
    checking_ = false;
}

bool TfrmSettings::CheckFrameSize() {
    const QString text = videoSize_->currentText();
    if (text.toLower().contains("as source"))
        return true;
    const int x = text.lastIndexOf('x');
    const QString width = x < 0 ? QString() : text.left(x);
    const QString height = x < 0 ? QString() : text.mid(x + 1);
    if (x < 0 || !IsIntegerText(width) || !IsIntegerText(height)) {
        Message("Frame Size is not a valid value!");
        SelectSecondEntry(videoSize_);
        return false;
    }
    const int w = width.toInt();
    const int h = height.toInt();
    if (w % 2 == 0 && h % 2 == 0 && w != 0 && h != 0)
        return true;
    const QString corrected = QString::number(EvenOrTwo(w)) + "x" + QString::number(EvenOrTwo(h));
    services_.ShowMessage("Frame Size must be a multiple of 2.\nThe correct value:" + corrected.toStdString(),
                          "Input Error!", TMessageIcon::None);
    videoSize_->setEditText(corrected);
    return false;
}

bool TfrmSettings::CheckVideoBitRate() {
    const QString text = videoBitRate_->currentText();
    if (IsIntegerText(text) || text == "as source")
        return true;
    Message("Video BitRate is not a valid value!");
    SelectSecondEntry(videoBitRate_);
    return false;
}

bool TfrmSettings::CheckAudioBitRate() {
    const QString text = audioBitRate_->currentText();
    if (IsIntegerText(text) || IsNumberText(text) || text == "as source")
        return true;
    Message("Audio BitRate is not a valid value!");
    SelectSecondEntry(audioBitRate_);
    return false;
}

bool TfrmSettings::CheckSampleRate() {
    const QString text = sampleRate_->currentText();
    if (IsIntegerText(text) || text == "as source")
        return true;
    Message("Audio SampleRate is not a valid value!");
    SelectSecondEntry(sampleRate_);
    return false;
}

bool TfrmSettings::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtFormat_ && event->type() == QEvent::MouseButtonPress) {
        if (lstFormat_->isVisible())
            lstFormat_->hide();
        else
            OpenCatalogue();
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress && lstFormat_->isVisible() && watched->isWidgetType() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        bool own = false;
        for (QObject* o = watched; o && !own; o = o->parent())
            own = o == lstFormat_ || o == edtFormat_ || o == btnArrow_;
        if (!own)
            lstFormat_->hide();
    }
    QComboBox* typed = TypedBox(watched);
    if (typed && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            OkClick(); // as in the dialog's other fields
            return true;
        }
        if (RefuseKey(watched, key->key(), key->text()))
            return true;
    }
    if (typed && event->type() == QEvent::FocusOut)
        LeaveTyped(typed, static_cast<QFocusEvent*>(event)->reason());
    return QDialog::eventFilter(watched, event);
}

} // namespace tarnel
