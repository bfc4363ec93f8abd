#include "AboutDialog.h"

#include "core/GlobalObject.h"
#include "core/ShellServices.h"
#include "skin/SkinPictures.h"

#include <QDate>
#include <QLabel>
#include <QPushButton>

namespace tarnel {

TfrmAbout::TfrmAbout(const TGlobalObject& global, TShellServices& services, QWidget* parent)
    : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle("About");
    setFixedSize(340, 187);

    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap::fromImage(skin::AppIconImage(48)));
    icon->setGeometry(20, 20, 48, 48);

    auto* name = new QLabel(QString::fromStdString(global.AppTitle() + global.VersionText()), this);
    name->setObjectName("lblName");
    QFont bold = name->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    name->setFont(bold);
    name->setGeometry(84, 20, 240, 26);

    auto* years = new QLabel(YearsText() + " Tarnel developers", this);
    years->setObjectName("lblYears");
    years->setGeometry(84, 50, 240, 20);

    auto* rights = new QLabel("All Rights Reserved", this);
    rights->setGeometry(84, 72, 240, 20);

    const QString url = QString::fromStdString(global.WebsiteUrl());
    auto* link = new QLabel(QString("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped()), this);
    link->setObjectName("lblLink");
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    link->setGeometry(84, 100, 240, 20);
    connect(link, &QLabel::linkActivated, this,
            [&services](const QString& target) { services.OpenUrl(target.toStdString()); });

    auto* ok = new QPushButton("&Ok", this);
    ok->setGeometry(340 - 96, 187 - 40, 80, 26);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QString TfrmAbout::YearsText() {
    return "2007-" + QString::number(QDate::currentDate().year());
}

} // namespace tarnel
