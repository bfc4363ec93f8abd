// The profile field of the main window and its drop-down catalogue list.
#include "MainWindow.h"
#include "TrackBar2.h"
#include "widgets/CatalogueList.h"

#include <QApplication>
#include <QCursor>
#include <QLineEdit>
#include <QMouseEvent>
#include <QToolButton>
#include <algorithm>

namespace tarnel {

namespace {

constexpr int kCatalogueMaxHeight = 422;
const char* const kFieldStyle = "background-color: rgb(246,247,248);";

} // namespace

void TfrmMain::FillCatalogue() {
    lstFormat_->hide();
    lstFormat_->Fill(*settings_);
    edtFormat_->setText(QString::fromStdString(settings_->FormatName()));
    lstFormat_->SelectCaption(edtFormat_->text());
    for (QWidget* widget : {static_cast<QWidget*>(lstFormat_), static_cast<QWidget*>(edtFormat_),
                            static_cast<QWidget*>(edtOutput_)})
        widget->setStyleSheet(kFieldStyle);
}

// Opens the list above the profile field. A click on the field resizes the list and moves the mouse
// pointer to the selected entry; a double click only shows it.
void TfrmMain::OpenCatalogue(bool resize) {
    lstFormat_->SelectCaption(QString::fromStdString(settings_->FormatName()));
    if (resize)
        FitCatalogue();
    lstFormat_->show();
    lstFormat_->raise();
    lstFormat_->setFocus();
    if (resize && lstFormat_->currentRow() >= 0) {
        lstFormat_->scrollToItem(lstFormat_->currentItem());
        const QRect entry = lstFormat_->visualItemRect(lstFormat_->currentItem());
        QCursor::setPos(lstFormat_->viewport()->mapToGlobal(entry.center()));
    }
}

// The list stands on the profile field, as tall as its entries need up to its limit, so that a
// group expanded for the first time shows its entries rather than a scroll bar.
void TfrmMain::FitCatalogue() {
    const QRect field(edtFormat_->mapTo(this, QPoint(0, 0)), edtFormat_->size());
    const int height = std::min(lstFormat_->PreferredHeight(kCatalogueMaxHeight), field.top());
    lstFormat_->setGeometry(field.left(), field.top() - height, field.width(), height);
}

void TfrmMain::HideCatalogue() {
    lstFormat_->hide();
}

void TfrmMain::ChooseProfile(const QString& caption, int code) {
    settings_->SetFormat(caption.toStdString(), code);
    edtFormat_->setText(caption);
    HideCatalogue();
    ShowDestinations();
}

bool TfrmMain::CatalogueOwns(QObject* object) const {
    for (QObject* o = object; o; o = o->parent())
        if (o == lstFormat_ || o == edtFormat_ || o == btnFormatArrow_)
            return true;
    return false;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtFormat_) {
        if (event->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            if (lstFormat_->isVisible())
                HideCatalogue();
            else
                OpenCatalogue(true);
            return true;
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            OpenCatalogue(false);
            return true;
        }
    }
    // A left press on any other control hides the list without a choice.
    if (event->type() == QEvent::MouseButtonPress && lstFormat_->isVisible() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && !CatalogueOwns(watched) &&
        watched->isWidgetType())
        HideCatalogue();
    return QWidget::eventFilter(watched, event);
}

} // namespace tarnel
