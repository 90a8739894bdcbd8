// The open and save dialogs: Qt's own file dialog (not the desktop's), so
// they behave the same everywhere.

#include <QFileDialog>

#include <cstring>

#include "../internal/Core.h"
#include "QtBackend_p.h"

namespace wplat {

using namespace detail;

namespace {
struct FileCall {
    FileDialogRequest* request;
    bool chosen;
};

void runFile(void* context)
{
    auto* call = (FileCall*)context;
    FileDialogRequest& r = *call->request;
    QStringList filters;
    for (const char* p = r.filter; p != nullptr && *p != '\0';) {
        QString description = QString::fromUtf8(p);
        p += strlen(p) + 1;
        QString patterns = QString::fromUtf8(p);
        if (*p != '\0') p += strlen(p) + 1;
        filters << description + QStringLiteral(" (") + patterns.split(QChar(';'), Qt::SkipEmptyParts).join(QChar(' '))
                + QStringLiteral(")");
    }
    QFileDialog dialog(r.owner != nullptr ? widgetOf(getAncestorTopLevel(r.owner)) : nullptr,
        r.title != nullptr ? QString::fromUtf8(r.title) : QString(),
        r.initialDirectory != nullptr ? QString::fromUtf8(r.initialDirectory) : QString());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !r.promptOverwrite);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (r.filterIndex >= 1 && r.filterIndex <= (unsigned long)filters.size())
            dialog.selectNameFilter(filters[(int)r.filterIndex - 1]);
    }
    if (!r.fileName.empty()) dialog.selectFile(QString::fromStdString(r.fileName));
    DispatchScope scope;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        call->chosen = false;
        return;
    }
    r.fileName = dialog.selectedFiles().first().toStdString();
    int index = filters.indexOf(dialog.selectedNameFilter());
    r.filterIndex = index >= 0 ? (unsigned long)index + 1 : 1;
    call->chosen = true;
}
} // namespace

bool runFileDialog(FileDialogRequest& request)
{
    if (!isUiStarted()) return false;
    FileCall call {&request, false};
    runOnUiThread(runFile, &call);
    return call.chosen;
}

} // namespace wplat
