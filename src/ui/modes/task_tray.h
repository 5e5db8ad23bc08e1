#pragma once
// The task-tray icon of the main window and its menu. The icon stands for the hidden window:
// a left click and the menu's entries reach the window-state machine as events, so the tray
// never changes the window itself. Where the desktop has no tray, show() says so and the
// window minimizes to the task bar instead (the window can never become unreachable).
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <optional>

#include "ui/modes/window_state_machine.h"

class QAction;
class QMenu;

namespace ferretta::ui::modes {

// The program's own icon (a magnifying glass over a page), drawn at 16, 22, 32 and 48 pixels.
// Needs a QGuiApplication; never answers a null icon while one exists.
QIcon drawProgramIcon();

class TaskTray : public QObject {
    Q_OBJECT
  public:
    // What the menu's entries open that is not a change of the window's form. An empty
    // function makes its entry do nothing.
    struct Handlers {
        std::function<void()> openOptions;  // "ｵﾌﾟｼｮﾝ(&O)"
        std::function<void()> showAbout;    // "ﾊﾞｰｼﾞｮﾝ情報(&A)", modal
    };

    // The machine must outlive the tray. Nothing is shown until show().
    TaskTray(WindowStateMachine& machine, Handlers handlers, QObject* parent = nullptr);
    ~TaskTray() override;

    TaskTray(const TaskTray&) = delete;
    TaskTray& operator=(const TaskTray&) = delete;

    // Whether the desktop offers a tray now (asked afresh each time, as a tray host may come
    // and go), unless a test fixed the answer.
    bool isAvailable() const;
    // Fixes isAvailable's answer (tests); std::nullopt asks the desktop again.
    void setAvailabilityOverride(std::optional<bool> available) { m_availableOverride = available; }

    // Adds the icon and answers true. Without a tray nothing is added and the answer is false.
    // Showing a shown icon adds no second one.
    bool show();
    // Removes the icon; does nothing when it is not shown.
    void hide();
    bool isShown() const { return m_isShown; }

    // The tray's parts, for the window's wiring and for tests.
    QSystemTrayIcon& icon() { return *m_icon; }
    QMenu& menu() { return *m_menu; }

    // What the icon reports: a left click (Trigger) sends the tray-click event; everything else
    // (the context menu opens by itself, double and middle clicks) does nothing.
    void onActivated(QSystemTrayIcon::ActivationReason reason);

  private:
    QAction* addEntry(const char* name, const QString& caption, std::function<void()> handler);
    void addSeparator(const char* name);

    WindowStateMachine& m_machine;
    Handlers m_handlers;
    // The menu is no widget's child: the tray shows it on its own, also while the window is
    // hidden. It must outlive the icon that points at it (declared first, destroyed last).
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    std::optional<bool> m_availableOverride;
    bool m_isShown = false;
};

}  // namespace ferretta::ui::modes
