#include "AboutDlg.h"

#include <QPushButton>

#include "DialogBuilder.h"
#include "Resources.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent)
{
    const QHash<int, QWidget*> controls = CDialogBuilder::Build(*FindDialogTemplate(IDD_ABOUTBOX), this);
    if (auto* pOk = qobject_cast<QPushButton*>(controls.value(IDOK)))
        connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
}
