#include "SkinStyle.h"

namespace tarnel::skin {

QString StyleSheet() {
    return R"(
QWidget#frmMain { background-color: rgb(236, 240, 246); }
QWidget#pnlHeader {
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(48, 92, 146), stop:1 rgb(24, 52, 91));
}
QWidget#pnlHeader QToolButton { color: white; border: none; border-radius: 3px; padding: 0px; }
QWidget#pnlHeader QToolButton[menuButton="true"] { padding: 2px 8px; }
QWidget#pnlHeader QToolButton:hover { background-color: rgba(255, 255, 255, 40); }
QWidget#pnlHeader QToolButton:pressed, QWidget#pnlHeader QToolButton:open { background-color: rgba(255, 255, 255, 70); }
QWidget#pnlHeader QToolButton::menu-indicator { image: none; width: 0px; }
QLabel#lblTitle { color: white; font-weight: bold; }
QToolButton::menu-indicator { image: none; width: 0px; }
QWidget#frmMain > QToolButton { border: 1px solid transparent; border-radius: 4px; color: rgb(24, 52, 91); }
QWidget#frmMain > QToolButton:hover { border-color: rgb(152, 181, 226); background-color: rgb(229, 236, 248); }
QWidget#frmMain > QToolButton:pressed { background-color: rgb(185, 204, 236); }
QWidget#frmMain > QToolButton:disabled { color: rgb(150, 160, 175); }
QTreeWidget#lvFiles { background-color: white; border: 1px solid rgb(152, 181, 226); }
QHeaderView::section {
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(250, 251, 253), stop:1 rgb(226, 230, 246));
    border: none; border-right: 1px solid rgb(200, 210, 230); border-bottom: 1px solid rgb(152, 181, 226);
    padding: 3px 4px; color: rgb(24, 52, 91);
}
QLineEdit { border: 1px solid rgb(152, 181, 226); border-radius: 2px; padding: 0px 2px; }
QListWidget#lstFormat { border: 1px solid rgb(122, 160, 218); }
QPushButton {
    border: 1px solid rgb(122, 160, 218); border-radius: 3px; padding: 2px 10px; color: rgb(24, 52, 91);
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 white, stop:1 rgb(226, 230, 246));
}
QPushButton:hover { background-color: rgb(229, 236, 248); }
QPushButton:pressed { background-color: rgb(185, 204, 236); }
QLabel#lblTime, QLabel#lblDuration { color: rgb(24, 52, 91); }
)";
}

} // namespace tarnel::skin
