// The options dialog offscreen: every caption, settings in and out, the folder history, the
// enabling rules, the extension list, Cancel, the choosers, and the main window's use of it.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/ini_file.h"
#include "run/document_cache_use.h"
#include "support/qt_test_support.h"
#include "support/temp_tree.h"
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

TEST_F(OptionsDialogTest, EveryCaptionIsExactAndSitsOnItsTabInItsFrame) {
    app::Settings settings;
    Dialog dialog(settings);
    EXPECT_EQ(dialog.objectName(), "Dialog");
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Ferrettaの設定"));

    auto* tabs = child<QTabWidget>(dialog, "SSTab1");
    ASSERT_NE(tabs, nullptr);
    const QStringList tabTitles = {QStringLiteral("検索条件"), QStringLiteral("テキスト検索"),
                                   QStringLiteral("PDF検索"), QStringLiteral("Office検索")};
    ASSERT_EQ(tabs->count(), tabTitles.size());
    for (int i = 0; i < tabs->count(); ++i)
        EXPECT_EQ(tabs->tabText(i), tabTitles[i]);

    struct Caption {
        const char* name;
        const char* text;
        int tab;            // -1: outside the tabs
        const char* frame;  // nullptr: directly on the tab
    };
    const Caption captions[] = {
        {"Frame2", "検索対象フォルダ", 0, nullptr},
        {"Command1", "変更(&D)", 0, "Frame2"},
        {"Check1", "サブフォルダも検索(&B)", 0, "Frame2"},
        {"Frame1", "検索条件", 0, nullptr},
        {"Check2_0", "ファイル名/件名のみ検索(&N)", 0, "Frame1"},
        {"Check2_1", "大/小,全/半の区別をする(&S)", 0, "Frame1"},
        {"Check2_2", "正規表現(&R)", 0, "Frame1"},
        {"chkAllFiles", "隠しファイル・バイナリファイルも検索(&H)", 0, "Frame1"},
        {"FrameCache", "キャッシュ", 0, nullptr},
        {"chkTextCache", "読み取った文書の本文を保存し、次の検索に使う(&U)", 0, "FrameCache"},
        {"cmdClearCache", "キャッシュを空にする(&Y)", 0, "FrameCache"},
        {"fType_1", "テキスト形式ファイルの検索を行う(&T)", 1, nullptr},
        {"Frame4", "テキストファイルとして検索する拡張子の一覧：", 1, nullptr},
        {"Command3", "追加(&A)", 1, "Frame4"},
        {"Command6", "削除(&D)", 1, "Frame4"},
        {"Frame3", "使用するテキストエディタ", 1, nullptr},
        {"Command2_0", "選択(&E)", 1, "Frame3"},
        {"Label9_0", "下記のパラメータが使用できます", 1, "Frame3"},
        {"Label9_1", "%1：ファイル名", 1, "Frame3"},
        {"Label9_2", "%2：行", 1, "Frame3"},
        {"Label9_3", "%3：桁", 1, "Frame3"},
        {"Label9_4", "（例）\u3000秀丸 の場合（推奨）", 1, "Frame3"},
        {"Label9_5", "C:\\Program Files\\Hidemaru\\Hidemaru.exe /j%2,%3 %1", 1, "Frame3"},
        {"Label9_6", "TeraPad の場合", 1, "Frame3"},
        {"Label9_7", "C:\\Program Files\\tpad085\\TeraPad.exe /jl=%2 \"%1\"", 1, "Frame3"},
        {"Label9_8", "※エディタのパスは各自の環境に置き換えて記述してください。", 1, "Frame3"},
        {"Label9_9", "詳しい解説はこちら⇒", 1, "Frame3"},
        {"fType_13", "Adobe PDFファイル(*.pdf)の検索を行う(&P)", 2, nullptr},
        {"Frame8", "検索方式", 2, nullptr},
        {"Option1_0", "内蔵の検索エンジンを使用(&G)", 2, "Frame8"},
        {"Option1_1", "下記のフィルタを利用する(&F)", 2, "Frame8"},
        {"Label1_7", "フィルタのパス：", 2, "Frame8"},
        {"Label1_8", "フィルタのページ区切り文字列（正規表現）：", 2, "Frame8"},
        {"filterSelectButton", "選択(&K)", 2, "Frame8"},
        {"Label1_4", "下記のパラメータが使用できます", 2, "Frame8"},
        {"Label1_5", "%1：PDFファイル名", 2, "Frame8"},
        {"Label1_6", "%2：出力ファイル名", 2, "Frame8"},
        {"Frame7", "検索対象", 3, nullptr},
        {"fType_2", "Word文書(*.doc)(&W)", 3, "Frame7"},
        {"fType_3", "Excel文書(*.xls)(&X)", 3, "Frame7"},
        {"fType_16", "PowerPoint(*.ppt)(&P)", 3, "Frame7"},
        {"fType_15", "AccessDB(*.mdb)の検索を行う(&M)", 3, "Frame7"},
        {"Frame5", "Outlook", 3, nullptr},
        {"fType_4", "仕事", 3, "Frame5"},
        {"fType_5", "メール", 3, "Frame5"},
        {"fType_6", "予定", 3, "Frame5"},
        {"fType_7", "連絡先", 3, "Frame5"},
        {"fType_8", "メモ", 3, "Frame5"},
        {"Frame6", "Outlook Express 5/6", 3, nullptr},
        {"fType_10", "メール", 3, "Frame6"},
        {"fType_11", "連絡先", 3, "Frame6"},
        {"Frame9", "動作", 3, nullptr},
        {"chkWordFast", "Wordの検索でオートシェイプを検索対象とせず高速検索する", 3, "Frame9"},
        {"chkOfficeNoJump", "検索結果一覧から文書を開いた時に検索語句へジャンプしない", 3,
         "Frame9"},
        {"Label2", "（※エラーが出る場合はチェックをはずして下さい）", 3, "Frame9"},
        {"OKButton", "OK(&O)", -1, nullptr},
        {"cancelButton", "キャンセル(&C)", -1, nullptr},
    };
    for (const Caption& c : captions) {
        SCOPED_TRACE(c.name);
        QWidget* widget = child<QWidget>(dialog, c.name);
        ASSERT_NE(widget, nullptr);
        QString shown;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            shown = button->text();
        } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
            shown = box->title();
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            shown = label->text();
            EXPECT_EQ(label->textFormat(), Qt::PlainText);  // "%1" and "<" shown as they are
        } else {
            ADD_FAILURE() << "no caption kind";
        }
        EXPECT_EQ(shown, QString::fromUtf8(c.text));
        if (c.tab < 0) {
            EXPECT_FALSE(tabs->isAncestorOf(widget));
        } else {
            EXPECT_TRUE(tabs->widget(c.tab)->isAncestorOf(widget));
        }
        if (c.frame != nullptr) {
            EXPECT_TRUE(child<QGroupBox>(dialog, c.frame)->isAncestorOf(widget));
        }
    }

    // No check box for the types without one (the input controls are the other tests').
    for (int type : {0, 9, 12, 14, 17, 18, 19, 20})
        EXPECT_EQ(dialog.findChild<QWidget*>(QStringLiteral("fType_%1").arg(type)), nullptr);
    EXPECT_TRUE(child<QPushButton>(dialog, "OKButton")->isDefault());
}

TEST_F(OptionsDialogTest, HelpLabelShowsAndOpensTheLocalHelpPage) {
    app::Settings settings;
    Dialog dialog(settings);
    const QUrl help = ui::modes::helpPageUrl();
    EXPECT_EQ(dialog.helpUrl(), help);
    EXPECT_TRUE(help.path().endsWith(QStringLiteral("/help/index.html")));
    auto* label = child<QLabel>(dialog, "Label9_10");
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().contains(help.toLocalFile().toHtmlEscaped()));
    EXPECT_FALSE(label->openExternalLinks());

    // The page in the program's own help window, at the editor's parameters: the dialog is not
    // shown modally here, so the window stays for the test to look at.
    emit label->linkActivated(help.toString());
    for (int other = 0; other < 10; ++other)
        dialog.Label9_Click(other);  // only the address label opens anything
    ui::modes::HelpWindow* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* shown = qobject_cast<ui::modes::HelpWindow*>(widget); shown && shown->isVisible())
            window = shown;
    }
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->browser()->source().adjusted(QUrl::RemoveFragment), help);
    EXPECT_EQ(window->browser()->source().fragment(), QStringLiteral("editor"));
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

TEST_F(OptionsDialogTest, RegularExpressionsDisableStrictComparison) {
    app::Settings settings;
    settings.strict = true;
    settings.regular = true;
    Dialog dialog(settings);
    auto* strict = child<QCheckBox>(dialog, "Check2_1");
    auto* regular = child<QCheckBox>(dialog, "Check2_2");
    EXPECT_FALSE(strict->isEnabled());  // already at the opening
    regular->click();
    EXPECT_TRUE(strict->isEnabled());
    EXPECT_TRUE(strict->isChecked());  // its own tick is left as it was
    regular->click();
    EXPECT_FALSE(strict->isEnabled());
    EXPECT_TRUE(strict->isChecked());
    // Reopened with regular expressions off: enabled again.
    settings.regular = false;
    dialog.loadMemory2Form();
    EXPECT_TRUE(strict->isEnabled());
}

TEST_F(OptionsDialogTest, TextSwitchEnablesEveryTextControl) {
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Text, true);
    Dialog dialog(settings);
    const std::vector<const char*> controls = {
        "Frame4",     "listTags", "Command6", "newTagInput", "Command3", "Frame3",   "Text2",
        "Command2_0", "Label9_0", "Label9_1", "Label9_2",    "Label9_3", "Label9_4", "Label9_5",
        "Label9_6",   "Label9_7", "Label9_8", "Label9_9",    "Label9_10"};
    auto* textBox = child<QCheckBox>(dialog, "fType_1");
    for (bool on : {false, true, false}) {
        textBox->click();
        ASSERT_EQ(textBox->isChecked(), on);
        for (const char* name : controls)
            EXPECT_EQ(enabled(dialog, name), on) << name << " " << on;
    }
    settings.fileTypes.setTarget(FileType::Text, true);
    dialog.loadMemory2Form();
    EXPECT_TRUE(enabled(dialog, "Text2"));
}

TEST_F(OptionsDialogTest, PdfSwitchAndMethodEnableTheFilterControls) {
    const std::vector<const char*> filterControls = {
        "filterPathInput", "filterKugiriInput", "filterSelectButton", "Label1_4",
        "Label1_5",        "Label1_6",          "Label1_7",           "Label1_8"};
    const struct {
        bool pdfOn;
        bool ownEngine;
        bool methodsEnabled;
        bool filterEnabled;
    } cases[] = {
        {true, false, true, true},
        {true, true, true, false},
        {false, false, false, false},
        {false, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "pdf " << c.pdfOn << " own " << c.ownEngine);
        app::Settings settings;
        settings.fileTypes.setTarget(FileType::Pdf, c.pdfOn);
        settings.pdfOwnEngine = c.ownEngine;
        Dialog dialog(settings);
        for (const char* name : {"Option1_0", "Option1_1", "Frame8"})
            EXPECT_EQ(enabled(dialog, name), c.methodsEnabled) << name;
        for (const char* name : filterControls)
            EXPECT_EQ(enabled(dialog, name), c.filterEnabled) << name;
    }

    // By hand: off, on again (the engine is chosen), then the filter method, then the engine.
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Pdf, true);
    settings.pdfOwnEngine = true;
    Dialog dialog(settings);
    auto* pdfBox = child<QCheckBox>(dialog, "fType_13");
    pdfBox->click();
    EXPECT_FALSE(enabled(dialog, "Option1_0"));
    EXPECT_FALSE(enabled(dialog, "Option1_1"));
    pdfBox->click();
    EXPECT_TRUE(enabled(dialog, "Option1_0"));
    EXPECT_FALSE(enabled(dialog, "filterPathInput"));
    child<QRadioButton>(dialog, "Option1_1")->click();
    for (const char* name : filterControls)
        EXPECT_TRUE(enabled(dialog, name)) << name;
    child<QRadioButton>(dialog, "Option1_0")->click();
    for (const char* name : filterControls)
        EXPECT_FALSE(enabled(dialog, name)) << name;
    pressOk(dialog);
    EXPECT_TRUE(settings.pdfOwnEngine);
}

TEST_F(OptionsDialogTest, AddingAListedExtensionIsRefusedInEveryForm) {
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Text, true);
    settings.textTags = "TXT;csv";  // an entry typed into the file by hand in lower case
    Dialog dialog(settings);
    auto* input = child<QLineEdit>(dialog, "newTagInput");
    auto* tags = child<QListWidget>(dialog, "listTags");
    auto* add = child<QPushButton>(dialog, "Command3");

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
    pressOk(dialog);
    EXPECT_EQ(settings.textTags, "TXT;csv;LOG;");
}

TEST_F(OptionsDialogTest, DeleteRemovesTheSelectedExtensionOnly) {
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Text, true);
    settings.textTags = "TXT;CSV;LOG";
    Dialog dialog(settings);
    auto* tags = child<QListWidget>(dialog, "listTags");
    auto* remove = child<QPushButton>(dialog, "Command6");
    remove->click();  // nothing selected
    EXPECT_EQ(tags->count(), 3);
    tags->setCurrentRow(1);
    remove->click();
    remove->click();  // the removal left nothing selected
    ASSERT_EQ(tags->count(), 2);
    pressOk(dialog);
    EXPECT_EQ(settings.textTags, "TXT;LOG");
}

// By keys to the focus widget: Alt+Y empties the cache at once, Alt+U unticks the cache, Enter
// is OK. A mnemonic clicks its button a moment later.
TEST_F(OptionsDialogTest, KeysEmptyTheCacheAndSwitchItOff) {
    test::TempTree tree;
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(tree.path("cache")));
    run::closeDocumentCache();
    app::Settings settings;
    settings.textCache = true;
    cache::DocumentCache* cache = run::documentCache(settings);
    ASSERT_NE(cache, nullptr);
    cache->store(*cache::identityOf(tree.write("a.pdf", "x")), "pdf",
                 {{}, {{1, 0, 0, "本文", ""}}, 0, "", 1});
    ASSERT_EQ(cache->stats().documents, 1);

    Dialog dialog(settings);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    child<QTabWidget>(dialog, "SSTab1")->setFocus();
    const auto key = [](Qt::Key code, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget(), code, modifiers);
    };
    auto* state = child<QLabel>(dialog, "lblCacheState");
    key(Qt::Key_Y, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !state->text().isEmpty(); }));
    EXPECT_EQ(state->text(), QStringLiteral("キャッシュを空にしました"));
    EXPECT_EQ(cache->stats().documents, 0);
    key(Qt::Key_U, Qt::AltModifier);
    auto* box = child<QCheckBox>(dialog, "chkTextCache");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !box->isChecked(); }));
    key(Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(settings.textCache);
    dialog.loadMemory2Form();  // the next opening starts without the last message
    EXPECT_EQ(state->text(), QString());
    run::closeDocumentCache();
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
        QString title;
        QStringList filters;
        QFileDialog::FileMode mode;
        QStringList preselected;
    };
    std::vector<Seen> seen;
    bool cancelNext = false;
    test::ModalWatcher watcher([&](QWidget* modal) {
        auto* files = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(files, nullptr);
        seen.push_back({files->windowTitle(), files->nameFilters(), files->fileMode(),
                        files->selectedFiles()});
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

    ASSERT_EQ(seen.size(), 6u);
    const QStringList filters = {QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝ(*.exe)"),
                                 QStringLiteral("全てのﾌｧｲﾙ(*)")};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(seen[i].title, i < 2 ? QStringLiteral("テキストエディタの選択")
                                       : QStringLiteral("PDFフィルタプログラムの選択"));
        EXPECT_EQ(seen[i].filters, filters);
        EXPECT_EQ(seen[i].mode, QFileDialog::AnyFile);
    }
    // The PDF filter's chooser starts where the editor's ended.
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

// The Outlook frame's place button opens the five places, typed or chosen; they reach the
// settings with the options' OK only. Keys go to the focus widget, as a keyboard sends them.
TEST_F(OptionsDialogTest, ItemPlacesAreEditedInTheirOwnDialog) {
    app::Settings settings;
    settings.outlookPlaces = {"", "/old/Inbox", "", "", "/n"};
    Dialog dialog(settings);
    dialog.setFileChooser([](const QString& title, const QString&) {
        return title == QStringLiteral("連絡先の場所の選択") ? QStringLiteral("/c/book.vcf")
                                                             : QString();
    });
    dialog.setFolderChooser([] { return QString(); });
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    child<QTabWidget>(dialog, "SSTab1")->setFocus();
    const auto key = [](int code, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(code), modifiers);
    };
    for (int i = 0; i < 3; ++i)
        key(Qt::Key_Tab, Qt::ControlModifier);  // to Office検索
    QString note;
    test::ModalWatcher editor([&](QWidget* places) {
        QApplication::setActiveWindow(places);  // as the window manager does for a new window
        note = child<QLabel>(*places, "placeNote")->text();
        key(Qt::Key_M, Qt::AltModifier);  // the メール row
        key(Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("~/Mail/box"));
        key(Qt::Key_E, Qt::AltModifier);  // メモ: typed back to automatic
        key(Qt::Key_A, Qt::ControlModifier);
        for (QChar ch : QStringLiteral("自動")) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(QApplication::focusWidget(), &press);
        }
        child<QPushButton>(*places, "placeFile_Contacts")->click();
        child<QPushButton>(*places, "placeFolder_Tasks")->click();  // cancelled: no change
        key(Qt::Key_Return);
    });
    key(Qt::Key_L, Qt::AltModifier);  // a mnemonic clicks its button a moment later
    for (int i = 0; i < 500 && editor.dialogs.empty(); ++i)
        QTest::qWait(10);
    ASSERT_EQ(editor.dialogs, std::vector<QString>{QStringLiteral("OutlookPlacesDialog")});
    EXPECT_TRUE(note.contains(QStringLiteral("自動")));
    EXPECT_EQ(settings.outlookPlaces[1], "/old/Inbox");  // not before OK
    pressOk(dialog);
    EXPECT_EQ(settings.outlookPlaces,
              (std::array<std::string, 5>{"", "~/Mail/box", "", "/c/book.vcf", ""}));
}

}  // namespace
