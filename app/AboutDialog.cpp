#include "AboutDialog.h"

#include "core/GlobalObject.h"
#include "core/ShellServices.h"
#include "skin/SkinPictures.h"

#include <QDate>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnel {

TfrmAbout::TfrmAbout(const TGlobalObject& global, TShellServices& services, QWidget* parent)
    : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle("About");

    auto* icon = new QLabel;
    icon->setPixmap(QPixmap::fromImage(skin::AppIconImage(48)));
    icon->setFixedSize(48, 48);

    auto* name = new QLabel(QString::fromStdString(global.AppTitle() + global.VersionText()));
    name->setObjectName("lblName");
    QFont bold = name->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    name->setFont(bold);
    auto* years = new QLabel(YearsText() + " Tarnel developers");
    years->setObjectName("lblYears");
    auto* rights = new QLabel("All Rights Reserved");
    const QString url = QString::fromStdString(global.WebsiteUrl());
    auto* link = new QLabel(QString("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped()));
    link->setObjectName("lblLink");
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(link, &QLabel::linkActivated, this,
            [&services](const QString& target) { services.OpenUrl(target.toStdString()); });

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(name);
    texts->addSpacing(2);
    texts->addWidget(years);
    texts->addWidget(rights);
    texts->addSpacing(6);
    texts->addWidget(link);
    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    auto* ok = new QPushButton("&Ok");
    ok->setMinimumSize(80, 26);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(20, 20, 16, 14);
    page->addLayout(top);
    page->addStretch(1);
    page->addLayout(buttons);
    page->setSizeConstraint(QLayout::SetMinimumSize); // grows with the font instead of clipping
    resize(340, 187);
}

QString TfrmAbout::YearsText() {
    return "2007-" + QString::number(QDate::currentDate().year());
}

} // namespace tarnel
