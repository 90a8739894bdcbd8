#pragma once

#include <string>

#include "PlatformTypes.h"
#include "WString.h"
#include "WWindow.h"

// The open and save file dialogs.
class WFileSelectDialog {
public:
    // The parameters and results of one dialog, as the platform's record.
    struct Record {
        unsigned long structSize;
        HWND owner;
        const char* filter;
        unsigned long filterIndex;
        unsigned long maxFile;
        unsigned long maxFileTitle;
        const char* initialDirectory;
        const char* title;
        unsigned long flags;
    };
    static constexpr unsigned long FLAG_OVERWRITE_PROMPT = 0x0002;
    static constexpr unsigned long FLAG_SHARE_AWARE = 0x4000;

    WFileSelectDialog(WWindowContext* parent = nullptr, const char* filter = "");
    WFileSelectDialog(const WFileSelectDialog& other);
    WFileSelectDialog& operator=(const WFileSelectDialog& other);
    ~WFileSelectDialog();

    void setExtension(const char* filter);
    void setInitialFilename(const char* name);
    void setInitialPath(const char* path);
    bool showOpenDialog(const char* title);
    bool showSaveDialog(const char* title);
    const char* getFilename() const { return fileName.getBuf(); }
    unsigned long getExtensionIndex() const { return dialogRecord.filterIndex; }

private:
    bool show(const char* title, bool save);
    void keepFilter(const char* filter);

    Record dialogRecord;
    // Our own copy of the filter list (texts ended by NUL, the list by a
    // further NUL); dialogRecord.filter points into it.
    std::string filterList;
    WWindowContext* parent;
    WString fileName;
};
