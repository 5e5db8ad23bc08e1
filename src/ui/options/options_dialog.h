#pragma once
// Dialog: the options window "Ferrettaの設定". It edits the settings the program keeps in memory
// and never touches the settings file: loadMemory2Form fills the controls before each opening,
// saveForm2Memory copies them back when the user presses OK. The main window keeps one
// instance for the whole run; it is hidden, not destroyed, between openings.
#include <QDialog>
#include <QString>
#include <QUrl>
#include <array>
#include <functional>
#include <string_view>

#include "app/settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace ferretta::ui::options {

// The main window's side of the dialog: its always-on-top state. Missing functions are
// skipped, so a dialog without a main window works on its own.
struct MainWindowLink {
    // True while the program sits in the task tray; the dialog leaves the top-most state alone
    // then.
    std::function<bool()> isInTaskTray;
    // The main window's controlTopMost.
    std::function<void(bool)> controlTopMost;
    // The check mark of the main window's "常に手前に表示(&P)".
    std::function<bool()> topMostChecked;
};

// An extension as the list keeps it: upper case first, then half-width (ｔｘｔ -> TXT).
QString normalizedTag(const QString& text);

// The folder box's text becomes the most recent history entry: an entry equal to it (exact
// comparison, the first one found) moves to the front; one already at the front leaves the
// history as it is; a new folder pushes every entry back and the eleventh is lost. The search
// folder then is entry 0. An empty text is compared like any other, so it matches the first
// free slot.
void makeFolderCurrent(app::Settings& settings, std::string_view folder);

class Dialog : public QDialog {
    Q_OBJECT
  public:
    // Asks for a program file: the window title and a Qt name filter ("Name (*.ext);;...").
    // Answers the chosen path, empty when the user cancels.
    using FileChooser = std::function<QString(const QString& title, const QString& filter)>;
    // Asks for a folder; empty when the user cancels.
    using FolderChooser = std::function<QString()>;

    // The settings are the process's; the dialog reads and writes them in place and must not
    // outlive them. The controls start from them.
    explicit Dialog(app::Settings& settings, QWidget* parent = nullptr);
    ~Dialog() override;

    void setMainWindowLink(MainWindowLink link) { m_link = std::move(link); }
    // Replace the desktop's file and folder dialogs (tests); an empty function restores them.
    void setFileChooser(FileChooser chooser) { m_fileChooser = std::move(chooser); }
    void setFolderChooser(FolderChooser chooser) { m_folderChooser = std::move(chooser); }

    // Settings -> controls, every control, with the enabling that follows from them.
    void loadMemory2Form();
    // Controls -> settings. The folder box's text becomes the search folder and the front of
    // the history (makeFolderCurrent).
    void saveForm2Memory();

    // Event handlers, named after their controls.
    void OKButton_Click();
    void cancelButton_Click();
    void Form_Activate();
    void Check2_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command6_Click();
    void filterSelectButton_Click();
    void fType_Click(int index);
    void Option1_Click();
    void Label9_Click(int index);
    // Empties the document cache at once (not on OK) and says how that went beside the button.
    void cmdClearCache_Click();
    // The Outlook frame's place button: the places dialog over the places shown; its OK changes
    // what is shown, the settings change with this dialog's OK.
    void outlookPlacesButton_Click();

    // The address the help label shows and opens.
    const QUrl& helpUrl() const { return m_helpUrl; }

  protected:
    void showEvent(QShowEvent* event) override;
    // OK, Cancel, Esc and the close box all end here.
    void done(int result) override;

  private:
    static constexpr int kTypeBoxes = 17;  // check boxes exist for file types 1..16 at most
    static constexpr int kLabel9Count = 11;
    static constexpr int kLabel1First = 4;
    static constexpr int kLabel1Last = 8;

    QWidget* buildSearchTab();
    QWidget* buildTextTab();
    QWidget* buildPdfTab();
    QWidget* buildOfficeTab();
    QCheckBox* makeTypeBox(app::FileType type, const QString& caption, QWidget* parent);
    QString chooseProgram(const QString& title);

    void enableTextSettings(bool flag);
    void enablePdfSettings(bool flag);
    void enableFilterSettings(bool flag);

    app::Settings& m_settings;
    MainWindowLink m_link;
    FileChooser m_fileChooser;
    FolderChooser m_folderChooser;
    QUrl m_helpUrl;
    // Both program choosers start where the previous one ended, as one shared file dialog does.
    QString m_lastProgramPath;
    QString m_lastProgramFilter;

    QTabWidget* m_tabs = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    // Tab 検索条件.
    QComboBox* m_combo1 = nullptr;
    QPushButton* m_command1 = nullptr;
    QCheckBox* m_check1 = nullptr;
    std::array<QCheckBox*, 3> m_check2{};
    // Hidden entries, the program's own folders and files that are no text, searched too.
    QCheckBox* m_chkAllFiles = nullptr;
    QCheckBox* m_chkTextCache = nullptr;
    QPushButton* m_cmdClearCache = nullptr;
    QLabel* m_lblCacheState = nullptr;
    // Check boxes of the file-type table, by type number; null where a type has none.
    std::array<QCheckBox*, kTypeBoxes> m_fType{};
    // Tab テキスト検索.
    QGroupBox* m_frame3 = nullptr;
    QGroupBox* m_frame4 = nullptr;
    QLineEdit* m_newTagInput = nullptr;
    QPushButton* m_command3 = nullptr;
    QListWidget* m_listTags = nullptr;
    QPushButton* m_command6 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QPushButton* m_command2 = nullptr;
    std::array<QLabel*, kLabel9Count> m_label9{};
    // Tab PDF検索.
    QGroupBox* m_frame8 = nullptr;
    std::array<QRadioButton*, 2> m_option1{};
    QLineEdit* m_filterPathInput = nullptr;
    QLineEdit* m_filterKugiriInput = nullptr;
    QPushButton* m_filterSelectButton = nullptr;
    std::array<QLabel*, kLabel1Last + 1> m_label1{};
    // Tab Office検索.
    QCheckBox* m_chkWordFast = nullptr;
    QCheckBox* m_chkOfficeNoJump = nullptr;
    // The places of the mail program's items as shown (set through their own dialog).
    std::array<std::string, 5> m_outlookPlaces;
};

}  // namespace ferretta::ui::options
