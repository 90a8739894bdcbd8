// Menus and the file dialogs (answered through Qt as a user would).

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
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
        if (system(command.c_str()) != 0)
            fprintf(stderr, "cannot remove %s\n", path.c_str());
    }
    void touch(const char* name) const
    {
        FILE* f = fopen((path + "/" + name).c_str(), "w");
        if (f != nullptr)
            fclose(f);
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
        if (dialog == nullptr)
            return;
        shownDirectory = dialog->directory().absolutePath().toStdString();
        // The dialog may move the process elsewhere; the caller gets it back.
        if (chdir("/") != 0)
            return;
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
        if (dialog != nullptr)
            dialog->reject();
    });
    answer.start(5);
    WFileSelectDialog files;
    EXPECT_FALSE(files.showSaveDialog(nullptr));
}

} // namespace
