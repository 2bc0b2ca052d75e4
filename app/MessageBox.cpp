#include "MessageBox.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

QString ApplicationTitle()
{
    const QString path = QCoreApplication::applicationFilePath();
    return path.isEmpty() ? QCoreApplication::applicationName() : QFileInfo(path).completeBaseName();
}

void ShowProgramMessageBox(QWidget* pOwner, const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, ApplicationTitle(),
                    QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok, pOwner);
    // Texts come from the program and from peers; neither is markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
