#include "WFileSelectDialog.h"

#include <cstring>

#include "Platform.h"
#include "WSystem.h"

namespace {

// The initial directory of every file dialog: the first path given wins.
WString& initialPath()
{
    static WString* path = new WString;
    return *path;
}
bool g_initialPathSet = false;

} // namespace

WFileSelectDialog::WFileSelectDialog(WWindowContext* owner, const char* filter) : parent(owner), fileName(1024UL)
{
    memset(&dialogRecord, 0, sizeof dialogRecord);
    dialogRecord.structSize = 76;
    dialogRecord.filterIndex = 1;
    dialogRecord.maxFile = 1024;
    dialogRecord.maxFileTitle = 512;
    keepFilter(filter);
}

WFileSelectDialog::WFileSelectDialog(const WFileSelectDialog& other)
    : dialogRecord(other.dialogRecord), filterList(other.filterList), parent(other.parent), fileName(other.fileName)
{
    dialogRecord.filter = filterList.c_str();
}

WFileSelectDialog& WFileSelectDialog::operator=(const WFileSelectDialog& other)
{
    if (this != &other) {
        dialogRecord = other.dialogRecord;
        filterList = other.filterList;
        dialogRecord.filter = filterList.c_str();
        parent = other.parent;
        fileName = other.fileName;
    }
    return *this;
}

void WFileSelectDialog::keepFilter(const char* filter)
{
    // The caller's list may go before the dialog shows: copy it up to its
    // closing empty text.
    filterList.clear();
    if (filter != nullptr) {
        const char* p = filter;
        while (*p != '\0') {
            size_t n = strlen(p);
            filterList.append(p, n + 1);
            p += n + 1;
        }
    }
    filterList.push_back('\0');
    dialogRecord.filter = filterList.c_str();
}

WFileSelectDialog::~WFileSelectDialog() = default;

void WFileSelectDialog::setExtension(const char* filter)
{
    keepFilter(filter);
}

void WFileSelectDialog::setInitialFilename(const char* name)
{
    fileName = name != nullptr ? name : "";
}

void WFileSelectDialog::setInitialPath(const char* path)
{
    if (!g_initialPathSet) {
        initialPath() = path != nullptr ? path : "";
        g_initialPathSet = true;
    }
    dialogRecord.initialDirectory = initialPath().getBuf();
}

bool WFileSelectDialog::showOpenDialog(const char* title)
{
    return show(title, false);
}

bool WFileSelectDialog::showSaveDialog(const char* title)
{
    return show(title, true);
}

bool WFileSelectDialog::show(const char* title, bool save)
{
    dialogRecord.owner = parent != nullptr ? parent->getWindowHandle() : nullptr;
    dialogRecord.title = title;
    dialogRecord.flags = save ? (FLAG_SHARE_AWARE | FLAG_OVERWRITE_PROMPT) : FLAG_SHARE_AWARE;
    wplat::FileDialogRequest request;
    request.owner = dialogRecord.owner;
    request.title = title;
    request.filter = dialogRecord.filter;
    request.filterIndex = dialogRecord.filterIndex;
    request.initialDirectory = dialogRecord.initialDirectory;
    request.fileName = fileName.getBuf() != nullptr ? fileName.getBuf() : "";
    request.save = save;
    request.promptOverwrite = save;
    // The dialog may change the current directory: it is put back.
    WString directory;
    WSystem::getCurrentDirectory(directory);
    bool chosen = wplat::runFileDialog(request);
    WSystem::setCurrentDirectory(directory.getBuf());
    if (!chosen) return false;
    // Long paths come back whole: the buffer grows to what was chosen.
    fileName = request.fileName.c_str();
    dialogRecord.filterIndex = request.filterIndex;
    return true;
}
