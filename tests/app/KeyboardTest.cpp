// The main window by keyboard: the menus' keys, ticking and selecting rows, and where Tab goes.
#include "MainWindowFixture.h"
#include "widgets/FileListView.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>
#include <QtTest/QTest>

namespace tarnel {
namespace {

using test::Fixtures;
using test::MainWindowTest;

class KeyboardTest : public MainWindowTest {
protected:
    QAction* Entry(const char* menu, const char* caption) {
        for (QAction* action : Window().findChild<QMenu*>(menu)->actions())
            if (action->text() == caption)
                return action;
        return nullptr;
    }
};

TEST_F(KeyboardTest, MenusShowTheUsualKeys) {
    Start();
    const struct {
        const char* menu;
        const char* caption;
        QKeySequence key;
    } entries[] = {{"mnuFile", "&Add", QKeySequence::Open},
                   {"mnuFile", "&Remove", QKeySequence(Qt::Key_Delete)},
                   {"mnuFile", "&Start", QKeySequence(Qt::CTRL | Qt::Key_Return)},
                   {"mnuFile", "&Exit", QKeySequence(Qt::CTRL | Qt::Key_Q)},
                   {"mnuHelp", "&Help", QKeySequence(Qt::Key_F1)},
                   {"mnuEdit", "&Add", QKeySequence::Open},
                   {"mnuEdit", "&Remove", QKeySequence(Qt::Key_Delete)},
                   {"mnuEdit", "&Start", QKeySequence(Qt::CTRL | Qt::Key_Return)}};
    for (const auto& entry : entries) {
        QAction* action = Entry(entry.menu, entry.caption);
        ASSERT_TRUE(action) << entry.menu << " " << entry.caption;
        EXPECT_EQ(action->shortcut(), entry.key) << entry.menu << " " << entry.caption;
    }
}

TEST_F(KeyboardTest, KeysWorkInTheWindow) {
    TfrmMain& window = Start();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.AddFiles({Fixtures().h264AacMp4, Fixtures().audioOnly, Fixtures().videoOnly});
    TFileListView& list = window.FileList();
    list.setFocus();

    QTest::keyClick(&list, Qt::Key_Space);
    EXPECT_FALSE(list.Row(0)->Checked()) << "Space unticks the selected row";
    QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(list.SelectedIndexes(), (std::vector<int>{0, 1, 2})) << "Ctrl+A selects every row";
    QTest::keyClick(&list, Qt::Key_Space);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(list.Row(i)->Checked()) << "with one unticked, Space ticks them all: row " << i;
    QTest::keyClick(&list, Qt::Key_Space);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(list.Row(i)->Checked()) << "then unticks them all: row " << i;

    list.SelectRow(1);
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(list.RowCount(), 2) << "Delete removes the selected row";
    EXPECT_EQ(list.Row(1)->Record().SourceFile, Fixtures().videoOnly);

    services_.FilesToOpen = {};
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(services_.OpenDialogs, 1) << "Ctrl+O opens the Add dialog";
    QTest::keyClick(&window, Qt::Key_F1);
    ASSERT_EQ(services_.OpenedUrls.size(), 1u) << "F1 opens the help";
}

TEST_F(KeyboardTest, TabGoesAlongTheToolbarListPlayerAndOutputRows) {
    TfrmMain& window = Start();
    window.AddFiles({Fixtures().h264AacMp4});
    const char* const order[] = {"btnAdd",    "btnRemove", "btnClear",          "btnSettings",
                                 "btnEdit",   "btnStart",  "lvFiles",           "btnPlay",
                                 "btnMute",   "edtFormat", "btnFormatSettings", "edtOutput",
                                 "btnBrowse", "btnOpen",   "btnStartBig"};
    // Disabled buttons (Pause, Stop, Previous … while nothing plays) are passed over.
    QWidget* widget = window.findChild<QWidget*>("btnAdd");
    ASSERT_TRUE(widget);
    std::vector<std::string> reached = {widget->objectName().toStdString()};
    for (size_t i = 1; i < std::size(order); ++i) {
        widget = widget->nextInFocusChain();
        while (widget &&
               !(widget->isEnabled() && widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus)))
            widget = widget->nextInFocusChain();
        ASSERT_TRUE(widget);
        reached.push_back(widget->objectName().toStdString());
    }
    EXPECT_EQ(reached, std::vector<std::string>(std::begin(order), std::end(order)));
}

} // namespace
} // namespace tarnel
