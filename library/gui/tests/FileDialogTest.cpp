// Menus and the file dialogs (answered through Qt as a user would).

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform.h"
#include "WException.h"
#include "WFileSelectDialog.h"
#include "WMenu.h"
#include "WSystem.h"

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

struct TempDir {
    std::string path;
    TempDir()
    {
        char pattern[] = "/tmp/zv-filedialog-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir()
    {
        std::string command = "rm -rf '" + path + "'";
        if (system(command.c_str()) != 0) fprintf(stderr, "cannot remove %s\n", path.c_str());
    }
    void touch(const char* name) const
    {
        FILE* f = fopen((path + "/" + name).c_str(), "w");
        if (f != nullptr) fclose(f);
    }
};

class FileDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { WSystem::startup("ZvFileDialogTest", nullptr, nullptr, (char*)"", 1); }
};

TEST_F(FileDialog, MenusKeepTheirFirstHandleAndCopiesNeverDestroyIt)
{
    WMenu menu;
    menu.create();
    HMENU first = menu;
    menu.create();
    EXPECT_EQ((HMENU)menu, first);
    menu.addItem(1000, "Show");
    menu.addSeparator();
    menu.addItem(1099, "Exit");
    menu.setItemChecked(1000, true);
    menu.setItemActive(1099, false);
    EXPECT_EQ(wplat::getMenuState(menu, 1000, MF_BYCOMMAND) & MF_CHECKED, (UINT)MF_CHECKED);
    EXPECT_EQ(wplat::getMenuState(menu, 1099, MF_BYCOMMAND) & MF_GRAYED, (UINT)MF_GRAYED);
    menu.removeItem(1000);
    EXPECT_EQ(wplat::getMenuItemCount(menu), 2);
    {
        WMenu copy(menu);
    }
    EXPECT_TRUE(wplat::isMenu(first));
    menu.destroy();
    EXPECT_FALSE(wplat::isMenu(first));
}

TEST_F(FileDialog, OpenChoosesAFileInTheFirstInitialPathAndKeepsTheDirectory)
{
    TempDir dir, other;
    dir.touch("a.txt");
    dir.touch("B.TXT");
    dir.touch("c.log");
    std::string shownDirectory;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        shownDirectory = dialog->directory().absolutePath().toStdString();
        // The dialog may move the process elsewhere; the caller gets it back.
        if (chdir("/") != 0) return;
        dialog->selectNameFilter(QStringLiteral("Logs (*.log *.LOG)"));
        dialog->selectFile(QStringLiteral("c.log"));
        static_cast<QDialog*>(dialog)->accept();
    });
    answer.start(5);
    WString before;
    WSystem::getCurrentDirectory(before);
    WFileSelectDialog files(nullptr, "Texts\0*.txt\0Logs\0*.log;*.LOG\0\0");
    files.setInitialPath(dir.path.c_str());
    WFileSelectDialog later(nullptr, "Texts\0*.txt\0\0");
    later.setInitialPath(other.path.c_str());
    ASSERT_TRUE(files.showOpenDialog("Pick"));
    EXPECT_EQ(shownDirectory, dir.path);
    EXPECT_EQ(std::string(files.getFilename()), dir.path + "/c.log");
    EXPECT_EQ(files.getExtensionIndex(), 2u);
    WString after;
    WSystem::getCurrentDirectory(after);
    EXPECT_STREQ(after.getBuf(), before.getBuf());
}

TEST_F(FileDialog, CancellingReturnsFalse)
{
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr) dialog->reject();
    });
    answer.start(5);
    WFileSelectDialog files;
    EXPECT_FALSE(files.showSaveDialog(nullptr));
}

// Answers the next file dialog with `choose` (an empty text cancels) and
// notes the name filters it showed.
struct Answer {
    QStringList shownFilters;
    QString choose;
    QTimer timer;
    explicit Answer(QString file) : choose(std::move(file))
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            timer.stop();
            shownFilters = dialog->nameFilters();
            if (choose.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->selectFile(choose);
            static_cast<QDialog*>(dialog)->accept();
        });
        timer.start(5);
    }
};

TEST_F(FileDialog, TheFilterIsTheDialogsOwnCopy)
{
    const char list[] = "Texts\0*.txt\0Logs\0*.log\0\0";
    struct Case {
        const char* what;
        bool freeIt;
    } cases[] = {{"buffer reused", false}, {"buffer freed", true}};
    for (const Case& c : cases) {
        char* callers = new char[sizeof list];
        memcpy(callers, list, sizeof list);
        WFileSelectDialog files(nullptr, callers);
        WFileSelectDialog copy(files);
        WFileSelectDialog assigned;
        assigned = files;
        // The caller goes on with its buffer.
        memset(callers, 'Z', sizeof list - 2);
        if (c.freeIt) {
            delete[] callers;
            callers = nullptr;
        }
        for (WFileSelectDialog* d : {&files, &copy, &assigned}) {
            Answer answer {QString()};
            EXPECT_FALSE(d->showOpenDialog("Pick"));
            EXPECT_EQ(
                answer.shownFilters, (QStringList {QStringLiteral("Texts (*.txt)"), QStringLiteral("Logs (*.log)")}))
                << c.what;
        }
        delete[] callers;
    }
    // setExtension copies as well.
    static const char images[] = "Images\0*.png;*.gif\0";
    std::string later(images, sizeof images);
    WFileSelectDialog files;
    files.setExtension(later.data());
    later.assign(later.size(), 'Q');
    Answer answer {QString()};
    files.showSaveDialog(nullptr);
    EXPECT_EQ(answer.shownFilters, QStringList {QStringLiteral("Images (*.png *.gif)")});
}

// A file whose full path has exactly `length` characters, made through
// folders of at most 200 characters each.
std::string makeLongFile(std::string folder, size_t length)
{
    for (;;) {
        size_t rest = length - folder.size() - 1;
        if (rest <= 200) break;
        folder += "/" + std::string(std::min<size_t>(200, rest - 2), 'd');
        if (mkdir(folder.c_str(), 0700) != 0) return std::string();
    }
    std::string file = folder + "/" + std::string(length - folder.size() - 1, 'f');
    FILE* f = fopen(file.c_str(), "w");
    if (f == nullptr) return std::string();
    fclose(f);
    return file;
}

TEST_F(FileDialog, LongPathsComeBackWhole)
{
    TempDir dir;
    for (size_t length : {(size_t)1023, (size_t)1024, (size_t)1025, (size_t)1300}) {
        std::string base = dir.path + "/" + std::to_string(length);
        ASSERT_EQ(mkdir(base.c_str(), 0700), 0);
        std::string file = makeLongFile(base, length);
        ASSERT_EQ(file.size(), length);
        Answer answer(QString::fromStdString(file));
        WFileSelectDialog files;
        ASSERT_TRUE(files.showOpenDialog("Long")) << length;
        EXPECT_EQ(std::string(files.getFilename()), file) << length;
    }
}

} // namespace
