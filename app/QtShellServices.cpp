#include "QtShellServices.h"

#include "FolderChooser.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace tarnel {

namespace {

QMessageBox::Icon ToQtIcon(TMessageIcon icon) {
    switch (icon) {
    case TMessageIcon::Information:
        return QMessageBox::Information;
    case TMessageIcon::Warning:
        return QMessageBox::Warning;
    case TMessageIcon::Question:
        return QMessageBox::Question;
    case TMessageIcon::Error:
        return QMessageBox::Critical;
    case TMessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// "Description (*.a *.b)": Qt's form of one filter. Linux file names are case-sensitive, so each
// pattern is offered in upper and lower case ("*.AVI" also finds clip.avi), and "*.*" means every
// file, as it does on the system the filter table comes from.
QString QtFilter(const TFileFilter& filter) {
    QStringList patterns;
    for (QString pattern : QString::fromStdString(filter.Patterns).split(';', Qt::SkipEmptyParts)) {
        if (pattern == "*.*")
            pattern = "*";
        for (const QString& spelling : {pattern, pattern.toLower(), pattern.toUpper()})
            if (!patterns.contains(spelling))
                patterns << spelling;
    }
    return QString::fromStdString(filter.Description) + " (" + patterns.join(' ') + ")";
}

} // namespace

TQtShellServices::TQtShellServices(QWidget* (*parent)())
    : parent_(parent) {}

QWidget* TQtShellServices::Parent() const {
    if (parent_)
        return parent_();
    return QApplication::activeWindow();
}

void TQtShellServices::ShowMessage(const std::string& text, const std::string& caption, TMessageIcon icon) {
    QMessageBox box(ToQtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, Parent());
    box.exec();
}

bool TQtShellServices::AskYesNo(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, Parent());
    return box.exec() == QMessageBox::Yes;
}

std::vector<std::string> TQtShellServices::ChooseFilesToOpen(const std::vector<TFileFilter>& filters) {
    QStringList qtFilters;
    for (const TFileFilter& filter : filters)
        qtFilters << QtFilter(filter);
    QFileDialog dialog(Parent());
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(qtFilters);
    dialog.setSizeGripEnabled(true);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    std::vector<std::string> chosen;
    if (dialog.exec() == QDialog::Accepted)
        for (const QString& file : dialog.selectedFiles())
            chosen.push_back(file.toStdString());
    return chosen;
}

std::string TQtShellServices::ChooseFolderToAdd() {
    return QFileDialog::getExistingDirectory(Parent(), "Add Folder").toStdString();
}

std::string TQtShellServices::ChooseOutputFolder(const std::string& current) {
    TfmDirectory chooser(*this, Parent());
    chooser.SelectFolder(QString::fromStdString(current));
    chooser.exec();
    return chooser.Result().toStdString();
}

bool TQtShellServices::PowerOff() {
    return QProcess::startDetached("systemctl", {"poweroff"});
}

// Through the freedesktop notification service on the session bus. The call does not wait for an
// answer, so a service that never answers holds nothing up; without a session bus it is skipped.
void TQtShellServices::Notify(const std::string& title, const std::string& text) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", "Notify");
    call << QString("Tarnel") << 0u << QString("tarnel") << QString::fromStdString(title)
         << QString::fromStdString(text) << QStringList() << QVariantMap() << -1;
    bus.call(call, QDBus::NoBlock);
}

void TQtShellServices::OpenUrl(const std::string& url) {
    const QString text = QString::fromStdString(url);
    const QUrl target = text.startsWith('/') ? QUrl::fromLocalFile(text) : QUrl(text);
    if (QDesktopServices::openUrl(target))
        return;
    // Without a browser or file manager for it, the click would otherwise do nothing at all.
    ShowMessage(target.isLocalFile() ? "No program could be started to open " + url + "."
                                     : "No web browser could be started to open " + url + ".",
                "Warning", TMessageIcon::Warning);
}

} // namespace tarnel
