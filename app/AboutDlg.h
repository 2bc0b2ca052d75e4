#pragma once
// The About box: the program's name and version, laid out from template 100.
// Owns only its widgets. OK, Enter, Escape and the close box end it.

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
};
