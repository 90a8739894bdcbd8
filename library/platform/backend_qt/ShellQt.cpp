#include <QApplication>
#include <QFileDialog>

#include "Shell.h"

bool browseForFolder(HWND, const char* title, WString& path)
{
    if (QApplication::instance() == nullptr) return false;
    QString chosen = QFileDialog::getExistingDirectory(
        nullptr, QString::fromUtf8(title != nullptr ? title : ""), QString(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    path = chosen.toUtf8().constData();
    return true;
}
