// The options dialog offscreen: settings in and out, the folder history, the enabling rules, the
// extension list, Cancel, the choosers, and the main window's use of it. Its captions are the
// Japanese-font test's; its keys (the cache, the item places) the X-server scenario's.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBrowser>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/ini_file.h"
#include "support/qt_test_support.h"
#include "ui/main/main_form.h"
#include "ui/modes/about_box.h"
#include "ui/modes/help_window.h"
#include "ui/options/options_dialog.h"

using namespace ferretta;
using ferretta::ui::options::Dialog;

namespace {

using app::FileType;

// Every setting as the file would hold it: equal texts mean equal settings.
std::string snapshot(const app::Settings& settings) {
    platform::IniFile ini;
    app::saveConfigFile(settings, 0, 0, ini);
    return ini.serialize();
}

// Every value the dialog edits set, booleans in a mixed pattern; `flip` gives the complement in
// every value. Keywords and the form flags are not the dialog's: they must come through untouched.
app::Settings patterned(bool flip = false) {
    app::Settings s;
    s.dirList = {"/srv/a", "/srv/b", "/srv/日本語 フォルダ"};
    if (flip)
        s.dirList = {"/home/x", "/home/y"};
    s.dir = s.dirList[0];
    s.editor = flip ? "gedit %1" : "vim +%2 %1";
    s.subFolder = s.strict = s.pdfOwnEngine = s.wordFast = s.statusBar = s.fixed = flip;
    s.fileNameOnly = s.regular = s.noJump = s.topMost = s.textCache = !flip;
    s.hiddenFiles = s.binaryFiles = !flip;
    for (int i = 0; i < app::fileTypeSlots; ++i)
        s.fileTypes.targetFileType[static_cast<std::size_t>(i)] = (i % 2 == 1) != flip;
    s.textTags = flip ? "LOG" : "TXT;CSV;ﾃｷｽﾄ";
    s.pdfFilterPath = flip ? "filter" : "pdftotext %1 %2";
    s.pdfFilterPause = flip ? "--page--" : "\\f";
    s.keywords = {flip ? "other" : "word"};
    s.outlookPlaces = {flip ? "" : "/t.ics", "~/Mail/Inbox", "", flip ? "/c" : "", "/n"};
    return s;
}

class OptionsDialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Qt's own file dialog, which the watcher can drive, whatever the desktop.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        test::ensureOffscreenApplication();
    }

    template <typename T>
    static T* child(const QWidget& parent, const char* name) {
        T* widget = parent.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    static bool enabled(const QWidget& parent, const char* name) {
        const QWidget* widget = child<QWidget>(parent, name);
        return widget != nullptr && widget->isEnabled();
    }

    // Presses OK the way the user does.
    void pressOk(Dialog& dialog) { child<QPushButton>(dialog, "OKButton")->click(); }
};

// The help page itself and its window are the About box test's; here the label's address and
// the section it opens at.
TEST_F(OptionsDialogTest, HelpLabelOpensTheLocalHelpPageAtTheEditor) {
    app::Settings settings;
    Dialog dialog(settings);
    const QUrl help = ui::modes::helpPageUrl();
    auto* label = child<QLabel>(dialog, "Label9_10");
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().contains(help.toLocalFile().toHtmlEscaped()));
    EXPECT_FALSE(label->openExternalLinks());
    emit label->linkActivated(help.toString());
    for (int other = 0; other < 10; ++other)
        dialog.Label9_Click(other);  // only the address label opens anything
    ui::modes::HelpWindow* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* shown = qobject_cast<ui::modes::HelpWindow*>(widget); shown && shown->isVisible())
            window = shown;
    }
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->browser()->source(), help.resolved(QUrl(QStringLiteral("#editor"))));
    window->close();
}

TEST_F(OptionsDialogTest, OkWritesBackExactlyWhatTheControlsShow) {
    // Both directions, each time over settings that differ in every value: what the controls
    // took from one must come back over the other, and what the dialog does not edit stays.
    const std::pair<app::Settings, app::Settings> pairs[] = {{patterned(), patterned(true)},
                                                             {patterned(true), patterned()}};
    for (const auto& [shown, other] : pairs) {
        app::Settings settings = shown;
        Dialog dialog(settings);
        settings = other;
        pressOk(dialog);

        // Only the box's text goes into the history, in front of the history in memory.
        app::Settings expected = shown;
        expected.dirList[0] = shown.dirList[0];
        for (std::size_t i = 1; i < expected.dirList.size(); ++i)
            expected.dirList[i] = other.dirList[i - 1];
        expected.dir = shown.dirList[0];
        expected.keywords = other.keywords;
        expected.statusBar = other.statusBar;
        expected.topMost = other.topMost;
        expected.fixed = other.fixed;
        for (int type : {0, 9, 12, 14, 17, 18, 19, 20}) {
            const auto slot = static_cast<std::size_t>(type);
            expected.fileTypes.targetFileType[slot] = other.fileTypes.targetFileType[slot];
        }
        EXPECT_EQ(snapshot(settings), snapshot(expected));
        EXPECT_FALSE(dialog.isVisible());
    }
}

TEST_F(OptionsDialogTest, ChosenFolderBecomesTheFrontOfTheHistory) {
    using List = std::vector<std::string>;
    const List eleven = {"F0", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10"};
    const struct {
        const char* what;
        List history;
        std::string chosen;
        List expected;  // the slots up to the last non-empty one
    } cases[] = {
        {"a listed folder moves to the front", {"A", "B", "C"}, "B", {"B", "A", "C"}},
        {"a new folder drops the eleventh",
         eleven,
         "N",
         {"N", "F0", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9"}},
        // An emptied box matches the first free slot, which is what it replaces.
        {"an empty text takes the first free slot", {"A", "B"}, "", {"", "A", "B"}},
        {"an empty text with an empty history", {}, "", {}},
        {"an empty text with a full history",
         eleven,
         "",
         {"", "F0", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        app::Settings settings;
        std::copy(c.history.begin(), c.history.end(), settings.dirList.begin());
        settings.dir = settings.dirList[0];
        Dialog dialog(settings);
        child<QComboBox>(dialog, "Combo1")->setEditText(QString::fromStdString(c.chosen));
        pressOk(dialog);

        List expected = c.expected;
        expected.resize(app::folderHistorySize);
        EXPECT_EQ(List(settings.dirList.begin(), settings.dirList.end()), expected);
        EXPECT_EQ(settings.dir, settings.dirList[0]);
    }
}

TEST_F(OptionsDialogTest, TheNextOpeningListsTheHistoryWithoutEmptySlots) {
    app::Settings settings;
    Dialog dialog(settings);
    auto* combo = child<QComboBox>(dialog, "Combo1");
    settings.dirList = {"", "X", "", "Y"};
    dialog.loadMemory2Form();
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), "X");
    EXPECT_EQ(combo->currentText(), "X");
}

// Which controls each switch enables, at the opening and after clicks: per group of controls
// (the text files', the PDF methods', the PDF filter's, strict comparison) '1' enabled, '0'
// not, '-' either. A switch's own tick stays what it was.
TEST_F(OptionsDialogTest, SwitchesEnableTheirControls) {
    const std::vector<std::vector<const char*>> groups = {
        {"Frame4", "listTags", "Command6", "newTagInput", "Command3", "Frame3", "Text2",
         "Command2_0", "Label9_0", "Label9_1", "Label9_2", "Label9_3", "Label9_4", "Label9_5",
         "Label9_6", "Label9_7", "Label9_8", "Label9_9", "Label9_10"},
        {"Option1_0", "Option1_1", "Frame8"},
        {"filterPathInput", "filterKugiriInput", "filterSelectButton", "Label1_4", "Label1_5",
         "Label1_6", "Label1_7", "Label1_8"},
        {"Check2_1"}};
    const struct {
        bool text, pdf, ownEngine, regular;
        std::vector<const char*> clicks;
        const char* enabled;  // one character per group
    } cases[] = {
        {true, true, false, false, {}, "1111"},
        {true, true, true, true, {}, "1100"},
        {false, false, false, false, {}, "0001"},
        {false, false, true, false, {}, "0001"},
        {false, false, false, false, {"fType_1"}, "1---"},
        {true, false, false, false, {"fType_1"}, "0---"},
        {false, false, false, true, {"Check2_2"}, "---1"},
        {false, false, false, true, {"Check2_2", "Check2_2"}, "---0"},
        {false, true, true, false, {"fType_13"}, "-00-"},
        {false, true, true, false, {"fType_13", "fType_13"}, "-10-"},
        {false, true, true, false, {"Option1_1"}, "-11-"},
        {false, true, true, false, {"Option1_1", "Option1_0"}, "-10-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "text " << c.text << " pdf " << c.pdf << " own "
                                          << c.ownEngine << " regular " << c.regular << " clicks "
                                          << ::testing::PrintToString(c.clicks));
        app::Settings settings;
        settings.fileTypes.setTarget(FileType::Text, c.text);
        settings.fileTypes.setTarget(FileType::Pdf, c.pdf);
        settings.pdfOwnEngine = c.ownEngine;
        settings.regular = c.regular;
        settings.strict = true;
        Dialog dialog(settings);
        for (const char* name : c.clicks)
            child<QAbstractButton>(dialog, name)->click();
        for (std::size_t g = 0; g < groups.size(); ++g) {
            if (c.enabled[g] == '-')
                continue;
            for (const char* name : groups[g])
                EXPECT_EQ(enabled(dialog, name), c.enabled[g] == '1') << name;
        }
        EXPECT_TRUE(child<QCheckBox>(dialog, "Check2_1")->isChecked());
        pressOk(dialog);
        const std::string last = c.clicks.empty() ? "" : c.clicks.back();
        EXPECT_EQ(settings.pdfOwnEngine,
                  last == "Option1_0" || (last != "Option1_1" && c.ownEngine));
    }
}

// Adding an extension the list holds in any form is refused; Delete removes the selected one.
TEST_F(OptionsDialogTest, ExtensionListRefusesDuplicatesAndDeletesTheSelectedOne) {
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Text, true);
    settings.textTags = "TXT;csv";  // an entry typed into the file by hand in lower case
    Dialog dialog(settings);
    auto* input = child<QLineEdit>(dialog, "newTagInput");
    auto* tags = child<QListWidget>(dialog, "listTags");
    auto* add = child<QPushButton>(dialog, "Command3");
    auto* remove = child<QPushButton>(dialog, "Command6");
    remove->click();  // nothing selected
    EXPECT_EQ(tags->count(), 2);

    test::ModalWatcher watcher;
    for (const QString& typed : {QStringLiteral("txt"), QStringLiteral("ｔｘｔ"),
                                 QStringLiteral("TXT"), QStringLiteral("CSV")}) {
        input->setText(typed);
        add->click();
        EXPECT_EQ(input->text(), typed);  // nothing changes, the text stays for correcting
    }
    ASSERT_EQ(watcher.texts.size(), 4u);
    for (std::size_t i = 0; i < watcher.texts.size(); ++i) {
        EXPECT_EQ(watcher.texts[i], QStringLiteral("この拡張子は既に登録されています"));
        EXPECT_EQ(watcher.titles[i], "Ferretta");
        EXPECT_EQ(watcher.icons[i], QMessageBox::Information);
    }
    EXPECT_EQ(tags->count(), 2);

    input->setText(QStringLiteral("ｌｏｇ"));
    add->click();
    EXPECT_EQ(input->text(), QString());
    ASSERT_EQ(tags->count(), 3);
    EXPECT_EQ(tags->item(2)->text(), "LOG");
    // Nothing else is checked: an empty entry goes in once, and a second is a duplicate.
    add->click();
    add->click();
    EXPECT_EQ(tags->count(), 4);
    EXPECT_EQ(watcher.texts.size(), 5u);
    tags->setCurrentRow(1);
    remove->click();
    remove->click();  // the removal left nothing selected
    ASSERT_EQ(tags->count(), 3);
    pressOk(dialog);
    EXPECT_EQ(settings.textTags, "TXT;LOG;");
}

TEST_F(OptionsDialogTest, CancelAndCloseChangeNothing) {
    for (const bool viaCloseBox : {false, true}) {
        app::Settings settings = patterned();
        settings.fileTypes.setTarget(FileType::Text, true);
        settings.fileTypes.setTarget(FileType::Pdf, true);
        const std::string before = snapshot(settings);
        Dialog dialog(settings);
        dialog.setFolderChooser([] { return QStringLiteral("/elsewhere"); });
        dialog.setFileChooser([](const QString&, const QString&) { return QStringLiteral("/p"); });
        dialog.show();
        for (const char* button : {"Command1", "Command2_0", "filterSelectButton"})
            child<QPushButton>(dialog, button)->click();
        child<QLineEdit>(dialog, "filterKugiriInput")->setText(QStringLiteral("x"));
        child<QLineEdit>(dialog, "newTagInput")->setText(QStringLiteral("new"));
        child<QPushButton>(dialog, "Command3")->click();
        child<QListWidget>(dialog, "listTags")->setCurrentRow(0);
        child<QPushButton>(dialog, "Command6")->click();
        child<QRadioButton>(dialog, "Option1_0")->click();
        for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
            box->click();

        if (viaCloseBox)
            dialog.close();
        else
            child<QPushButton>(dialog, "cancelButton")->click();
        EXPECT_EQ(snapshot(settings), before) << viaCloseBox;
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
}

// Through the real file dialogs, each chooser cancelled and then answered.
TEST_F(OptionsDialogTest, ChoosersAskAndReplaceTheWholeLineUnlessCancelled) {
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Text, true);
    settings.fileTypes.setTarget(FileType::Pdf, true);
    settings.dirList = {"A"};
    settings.editor = "old %1";
    settings.pdfFilterPath = "oldfilter %1";
    Dialog dialog(settings);
    const QString folder = QDir(QDir::tempPath()).absolutePath();
    // Need not exist: the chooser takes a name as the common dialog did.
    const QString program = folder + QStringLiteral("/no-such-program");
    struct Seen {
        QFileDialog::FileMode mode;
        QStringList preselected;
    };
    std::vector<Seen> seen;
    bool cancelNext = false;
    test::ModalWatcher watcher([&](QWidget* modal) {
        auto* files = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(files, nullptr);
        seen.push_back({files->fileMode(), files->selectedFiles()});
        if (cancelNext) {
            files->reject();
            return;
        }
        files->selectFile(files->fileMode() == QFileDialog::Directory ? folder : program);
        static_cast<QDialog*>(files)->accept();  // QFileDialog hides its own
    });
    auto* combo = child<QComboBox>(dialog, "Combo1");
    const struct {
        const char* button;
        std::function<QString()> field;
        const char* before;
        QString answer;
    } choosers[] = {
        {"Command2_0", [&] { return child<QLineEdit>(dialog, "Text2")->text(); }, "old %1",
         program},
        {"filterSelectButton", [&] { return child<QLineEdit>(dialog, "filterPathInput")->text(); },
         "oldfilter %1", program},
        {"Command1", [&] { return combo->currentText(); }, "A", folder},
    };
    for (const auto& c : choosers) {
        SCOPED_TRACE(c.button);
        cancelNext = true;
        child<QPushButton>(dialog, c.button)->click();
        EXPECT_EQ(c.field(), QString::fromUtf8(c.before));
        cancelNext = false;
        child<QPushButton>(dialog, c.button)->click();
        EXPECT_EQ(c.field(), c.answer);
    }

    // The programs' choosers take any name, the folder's a folder; the PDF filter's chooser
    // starts where the editor's ended.
    ASSERT_EQ(seen.size(), 6u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(seen[i].mode, QFileDialog::AnyFile);
    EXPECT_EQ(seen[2].preselected, QStringList{program});
    EXPECT_EQ(seen[4].mode, QFileDialog::Directory);
    pressOk(dialog);
    EXPECT_EQ(settings.editor, program.toStdString());
    EXPECT_EQ(settings.pdfFilterPath, program.toStdString());
    EXPECT_EQ(settings.dir, folder.toStdString());
    EXPECT_EQ(settings.dirList[1], "A");
}

TEST_F(OptionsDialogTest, MainWindowOpensOneDialogReloadedEachTimeAndDropsTopMostMeanwhile) {
    app::Settings settings;
    settings.dir = QDir::tempPath().toStdString();
    settings.fixed = false;
    ui::main::MainForm form(settings);
    form.applySettings();
    form.setExitHandler([] {});
    form.stateMachine().matrixCall(ui::modes::EventStartUpDone);
    auto* topMost = form.findChild<QAction*>(QStringLiteral("mnTopMost"));
    auto* option = form.findChild<QAction*>(QStringLiteral("mnOption"));
    ASSERT_NE(topMost, nullptr);
    ASSERT_NE(option, nullptr);
    topMost->trigger();
    ASSERT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    std::vector<bool> topMostWhileOpen;
    std::vector<bool> shownFileNameOnly;
    bool pressOkNext = true;
    test::ModalWatcher watcher([&](QWidget* modal) {
        auto* dialog = qobject_cast<Dialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        topMostWhileOpen.push_back(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        auto* box = child<QCheckBox>(*dialog, "Check2_0");
        shownFileNameOnly.push_back(box->isChecked());
        box->click();
        child<QPushButton>(*dialog, pressOkNext ? "OKButton" : "cancelButton")->click();
    });
    option->trigger();  // returns once the watcher pressed OK
    EXPECT_TRUE(settings.fileNameOnly);
    settings.fileNameOnly = false;  // changed elsewhere (the settings file, say)
    pressOkNext = false;
    option->trigger();
    EXPECT_FALSE(settings.fileNameOnly);  // cancelled

    EXPECT_EQ(shownFileNameOnly, (std::vector<bool>{false, false}));
    EXPECT_EQ(topMostWhileOpen, (std::vector<bool>{false, false}));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(form.findChildren<Dialog*>().size(), 1);
    EXPECT_TRUE(watcher.texts.empty());

    // In the task tray the window keeps its top-most state while the dialog is open.
    form.stateMachine().matrixCall(ui::modes::EventMinimized);
    ASSERT_EQ(form.stateMachine().stateNumber(), ui::modes::StateTrayFromMinimum);
    topMostWhileOpen.clear();
    option->trigger();
    EXPECT_EQ(topMostWhileOpen, std::vector<bool>{true});
}

}  // namespace
