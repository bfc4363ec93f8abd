// The about box: the program's name and version, the years, the rights line and the web site.
#pragma once

#include <QDialog>

namespace tarnel {

class TGlobalObject;
class TShellServices;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    TfrmAbout(const TGlobalObject& global, TShellServices& services, QWidget* parent = nullptr);

    // "2007-" followed by the current year.
    static QString YearsText();
};

} // namespace tarnel
