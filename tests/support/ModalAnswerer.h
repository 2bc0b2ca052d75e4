#pragma once
// Answers the modal windows that the code under test opens, so that no test
// ever waits for a person: every few milliseconds it looks at the active modal
// window, records it, and presses OK (message boxes) or accepts it (other
// dialogs), leaving alone the window a test runs modally itself. Owns only
// its timer.

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <vector>

struct CAnsweredBox {
    QString className;  // "QMessageBox", "CAboutDlg", ...
    QString caption;
    QString text;       // message boxes only
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::StandardButtons buttons;
    QWidget* pParent = nullptr;
};

class CModalAnswerer : public QObject {
public:
    explicit CModalAnswerer(const QWidget* pLeaveAlone = nullptr) : m_pLeaveAlone(pLeaveAlone)
    {
        connect(&m_timer, &QTimer::timeout, this, &CModalAnswerer::Poll);
        m_timer.start(10);
    }

    std::vector<CAnsweredBox> m_answered;

    QStringList Texts() const
    {
        QStringList texts;
        for (const CAnsweredBox& box : m_answered)
            texts << box.text;
        return texts;
    }

private:
    void Poll()
    {
        auto* pDialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (pDialog == nullptr || !pDialog->isVisible() || pDialog == m_pLeaveAlone)
            return;
        CAnsweredBox box;
        box.className = QString::fromLatin1(pDialog->metaObject()->className());
        box.caption = pDialog->windowTitle();
        box.pParent = pDialog->parentWidget();
        if (auto* pBox = qobject_cast<QMessageBox*>(pDialog)) {
            box.text = pBox->text();
            box.icon = pBox->icon();
            box.format = pBox->textFormat();
            box.buttons = pBox->standardButtons();
            m_answered.push_back(box);
            if (QAbstractButton* pOk = pBox->button(QMessageBox::Ok))
                pOk->click();
            else
                pBox->reject();
            return;
        }
        m_answered.push_back(box);
        pDialog->accept();
    }

    const QWidget* m_pLeaveAlone;
    QTimer m_timer;
};
