#pragma once
// mainForm: the search row, the results list, the status bar and the menus, and the search
// command that runs inside the search button's click handler. The window carries out what the
// window-state machine tells it; every change of its form goes through that machine.
#include <QMainWindow>
#include <QMargins>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "search/search_flags.h"
#include "ui/modes/window_state_machine.h"

namespace ferretta::ui::modes {
class TaskTray;
}
namespace ferretta::platform::office {
class Automation;
}
namespace ferretta::searchers::office {
struct OfficeSession;
}
namespace ferretta::platform::pim {
class ItemStore;
}
namespace ferretta::searchers::outlook {
class OutlookSession;
}
namespace ferretta::ui::options {
class Dialog;
}

class QAction;
class QComboBox;
class QDateTime;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QStatusBar;
class QToolButton;
class QTreeView;

namespace ferretta::ui::main {

class PreviewPane;
class QtHost;
class ResultsDelegate;
class ResultsModel;

// Window sizes of the two forms, in twips.
inline constexpr double normalMinWidthTwips = 4830;
inline constexpr double normalMinHeightTwips = 6315;
inline constexpr double minimumWidthTwips = 4830;
inline constexpr double minimumRowTwips = 520;     // the minimum window below its caption
inline constexpr double normalClientTwips = 6000;  // the normal window below its caption

class MainForm : public QMainWindow, public modes::WindowActions {
    Q_OBJECT
  public:
    // The settings are the process's; the window reads and changes them in place and must not
    // outlive them.
    explicit MainForm(app::Settings& settings, QWidget* parent = nullptr);
    ~MainForm() override;

    // The check marks of the view menu, the status bar, the always-on-top state and the word
    // history follow the settings (start-up, after they were loaded).
    void applySettings();

    // Called once by exitPoint (the window closed, the tray's exit), with the window still
    // where it was: the program's own way out, which saves the settings and ends the event
    // loop. Without one the event loop is ended here.
    void setExitHandler(std::function<void()> handler) { m_exitHandler = std::move(handler); }

    // The search/stop button. Inside a running search (a nested click) it only asks the search
    // to stop. Empty search words are reported and nothing else happens.
    void Command2_Click();
    // Enter acts as the search button (so Enter during a search stops it); Esc stops a running
    // search. The key is not swallowed.
    void Combo1_KeyPress(int key);
    // Opens the hit of a row (displayed order) with the opener of its type: text files in the
    // editor, PDF files in the viewer, Word, Excel and PowerPoint documents in the office at
    // the hit, mail-program items in the desktop's program for them. A row outside the list
    // does nothing.
    void openRow(int row);
    // The office that Word, Excel and PowerPoint files are searched and opened with (LibreOffice
    // unless set here, made at first use). Not while a search runs.
    void setOfficeAutomation(std::unique_ptr<platform::office::Automation> automation);
    // Where tasks, mail, calendar, contacts and notes are read (the desktop's stores unless set
    // here, made at first use). Not while a search runs.
    void setItemStore(std::unique_ptr<platform::pim::ItemStore> store);
    // The save command: "検索結果がありません" when the list is empty, else the file dialog (the
    // name proposed in the folder of the last save) and saveResultsTo. Cancelling the dialog
    // does nothing.
    void mnSave_Click();
    // "検索結果_YYYYMMDD_HHMM.csv" for the moment.
    static QString proposedSaveName(const QDateTime& now);
    // A file name without any extension gets the one of the chosen filter (CSV or text);
    // anything else stays as it is.
    static QString withFilterSuffix(const QString& path, const QString& filter);
    // Writes the rows in displayed order (asks before overwriting; tells the outcome).
    bool saveResultsTo(const std::filesystem::path& path);
    // The layout rule, also run on every resize.
    void Form_Resize();
    // Always on top or not.
    void controlTopMost(bool topMost);
    // Brings the window back from the tray or gives it the focus, as a folder handed over does.
    void bringToFront();

    // WindowActions.
    void beMinimum() override;
    void beNormal() override;
    void taskTrayOn() override;
    void taskTrayOff() override;
    void exitPoint() override;
    void setToggleButton(bool pressed) override;
    void showMainWindow() override;
    void focusSearchBox() override;
    void reportBadEvent(int state, int event) override;

    modes::WindowStateMachine& stateMachine() { return *m_machine; }
    modes::TaskTray& taskTray() { return *m_tray; }
    QtHost& host() { return *m_host; }
    ResultsModel& model() { return *m_model; }
    search::SearchFlags& flags() { return m_flags; }
    QComboBox* combo() const { return m_combo; }
    QPushButton* searchButton() const { return m_searchButton; }
    QTreeView* listView() const { return m_list; }
    QStatusBar* statusBarWidget() const { return m_statusBar; }
    PreviewPane* previewPane() const { return m_preview; }
    // The status bar's one simple text (progress, the summary).
    QString statusText() const;
    bool isExiting() const { return m_isExiting; }
    bool isInTaskTray() const { return m_isInTaskTray; }
    // The current items of the word box, top first.
    std::vector<std::string> keywordItems() const;

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void buildMenus();
    void updateKeywordHistory();
    searchers::office::OfficeSession& officeSession();
    searchers::outlook::OutlookSession& outlookSession();
    void showOptions();
    // The unreadable files of the last search: its count's tooltip names the first, the menu
    // entry lists them all.
    void showUnreadableCount(std::int64_t count);
    void showUnreadable();
    // The preview pane shown or not, as the view menu says; it follows the selected row.
    void showPreview(bool on);
    void previewCurrentRow();
    // Selects the row `step` rows below (above, when negative) the selected one.
    void moveToHit(int step);
    void setMenusVisible(bool visible);
    void showToggleState(bool normal);
    // The window's outer size, in pixels, frame included.
    void setOuterSize(int width, int height);
    // The compact form's size: its width outside, one row of controls inside.
    void sizeMinimum();
    // The normal form's smallest size.
    void snapNormalSize();
    // A resize while the window settles after a change of form that brings back the old form's
    // size: the window manager answering an earlier request late.
    bool isLateAnswer() const;
    // The normal form's size: the user's (kept in the settings) or the first one.
    void sizeNormal();
    void rememberNormalSize();
    // The path column so that all four columns are in view, the content column taking the rest.
    void fitColumns();
    // Where the current form's rule wants the frame's top-left corner: in the lower-right
    // corner of the screen's available area (panels excluded), or only moved back inside it.
    QPoint placementTarget() const;
    void applyPlacement();
    // A change of form: placed, and held there for a moment.
    void placeForm();
    // The window manager's frame arrives after the window is mapped, and panels may come and
    // go: the form's size and place are worked out again when the frame differs from the one
    // the window was placed with, or when the screen's available area changed.
    void followFrame(bool areaChanged = false);
    // The window manager's frame around the client area (zero before it is known).
    QMargins frameMargins() const;

    app::Settings& m_settings;
    search::SearchFlags m_flags;
    std::unique_ptr<ResultsModel> m_model;
    std::unique_ptr<QtHost> m_host;
    std::unique_ptr<modes::WindowStateMachine> m_machine;
    // Its events go to the machine: it is made after it and goes before it.
    std::unique_ptr<modes::TaskTray> m_tray;
    std::function<void()> m_exitHandler;

    QComboBox* m_combo = nullptr;
    QPushButton* m_searchButton = nullptr;
    QToolButton* m_optionsButton = nullptr;
    // The options dialog, made at its first opening and kept hidden between openings.
    options::Dialog* m_optionsDialog = nullptr;
    QToolButton* m_toggleButton = nullptr;
    QTreeView* m_list = nullptr;
    ResultsDelegate* m_delegate = nullptr;
    bool m_columnsFitted = false;
    // The list and the preview pane, one above the other, or side by side in a wide window.
    QSplitter* m_splitter = nullptr;
    PreviewPane* m_preview = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QLabel* m_statusText = nullptr;
    QAction* m_mnUnreadable = nullptr;
    QAction* m_mnTopMost = nullptr;
    QAction* m_mnPositionFixed = nullptr;
    QAction* m_mnStatusBar = nullptr;
    QAction* m_mnPreview = nullptr;

    // The office and the applications of the search runs; the session goes first.
    std::unique_ptr<platform::office::Automation> m_officeAutomation;
    std::unique_ptr<searchers::office::OfficeSession> m_officeSession;
    // The item stores and which item each label of the last search meant.
    std::unique_ptr<searchers::outlook::OutlookSession> m_outlookSession;

    bool m_isModeChanging = false;
    bool m_isInTaskTray = false;
    bool m_isExiting = false;
    // The rule the last change of form placed the window by, and the frame it knew then.
    enum class Placement { None, BottomRight, InsideWorkArea };
    Placement m_placement = Placement::None;
    QMargins m_placedMargins;
    std::int64_t m_settleUntil = 0;
    // The client sizes of the compact form left last and of the normal form asked for then:
    // while the window settles, the old size coming back is the window manager's late answer
    // to an earlier request, not the user's.
    QSize m_sizeLeft;
    QSize m_normalTarget;
    // The save dialog offers the filter chosen last.
    QString m_lastSaveFilter;
};

}  // namespace ferretta::ui::main
