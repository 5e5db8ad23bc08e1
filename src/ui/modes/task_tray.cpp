#include "ui/modes/task_tray.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>
#include <utility>

namespace ferretta::ui::modes {

namespace {

QPixmap drawProgramPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 16-unit grid and scaled, so every size shows the same picture.
    painter.scale(size / 16.0, size / 16.0);

    // The page, with its folded corner and three lines of text.
    QPainterPath page;
    page.moveTo(1.5, 0.5);
    page.lineTo(8.5, 0.5);
    page.lineTo(11.5, 3.5);
    page.lineTo(11.5, 14.5);
    page.lineTo(1.5, 14.5);
    page.closeSubpath();
    painter.setPen(QPen(QColor(90, 90, 90), 1.0));
    painter.setBrush(Qt::white);
    painter.drawPath(page);
    painter.setPen(QPen(QColor(150, 150, 150), 1.0));
    for (const double y : {5.0, 7.5, 10.0})
        painter.drawLine(QPointF(3.5, y), QPointF(8.0, y));

    // The magnifying glass over the page's lower right.
    painter.setPen(QPen(QColor(120, 72, 24), 2.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(11.6, 11.6), QPointF(15.0, 15.0));
    painter.setPen(QPen(QColor(20, 80, 170), 1.6));
    painter.setBrush(QColor(190, 220, 255, 200));
    painter.drawEllipse(QPointF(9.0, 9.0), 3.6, 3.6);
    return pixmap;
}

}  // namespace

QIcon drawProgramIcon() {
    QIcon icon;
    for (const int size : std::array{16, 22, 32, 48})
        icon.addPixmap(drawProgramPixmap(size));
    return icon;
}

TaskTray::TaskTray(WindowStateMachine& machine, Handlers handlers, QObject* parent)
    : QObject(parent),
      m_machine(machine),
      m_handlers(std::move(handlers)),
      m_menu(std::make_unique<QMenu>()),
      m_icon(std::make_unique<QSystemTrayIcon>()) {
    setObjectName(QStringLiteral("taskTray"));
    m_menu->setObjectName(QStringLiteral("mnTaskTrayRightClick"));
    m_menu->setTitle(QStringLiteral("タスクトレイ右クリック用"));
    addEntry("mnTrayOpen", QStringLiteral("開く(&B)"),
             [this] { m_machine.matrixCall(EventTrayOpen); });
    addSeparator("mnBar1");
    addEntry("mnTrayOption", QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"), [this] {
        if (m_handlers.openOptions)
            m_handlers.openOptions();
    });
    addEntry("mnTrayVersion", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"), [this] {
        if (m_handlers.showAbout)
            m_handlers.showAbout();
    });
    addSeparator("mnBar2");
    addEntry("mnTrayExit", QStringLiteral("終了(&X)"),
             [this] { m_machine.matrixCall(EventTrayExit); });

    m_icon->setObjectName(QStringLiteral("trayIcon"));
    m_icon->setIcon(drawProgramIcon());
    m_icon->setToolTip(QStringLiteral("Ferretta"));
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onActivated(reason); });
}

TaskTray::~TaskTray() {
    // The icon leaves the tray on every way out, shown or not.
    m_icon->hide();
}

QAction* TaskTray::addEntry(const char* name, const QString& caption,
                            std::function<void()> handler) {
    QAction* action = m_menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    return action;
}

void TaskTray::addSeparator(const char* name) {
    m_menu->addSeparator()->setObjectName(QString::fromLatin1(name));
}

bool TaskTray::isAvailable() const {
    if (m_availableOverride)
        return *m_availableOverride;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TaskTray::show() {
    if (m_isShown)
        return true;
    if (!isAvailable())
        return false;
    m_icon->show();
    m_isShown = true;
    return true;
}

void TaskTray::hide() {
    if (!m_isShown)
        return;
    m_icon->hide();
    m_isShown = false;
}

void TaskTray::onActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger)
        m_machine.matrixCall(EventTrayClick);
}

}  // namespace ferretta::ui::modes
