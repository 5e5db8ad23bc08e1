#include "ui/modes/help_window.h"

#include <sys/wait.h>

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <memory>

#include "platform/process.h"
#include "ui/modes/about_box.h"

namespace ferretta::ui::modes {
namespace {

const QString kAppTitle = QStringLiteral("Ferretta");
// How long the opener is watched for its answer: long enough for a browser to come up.
constexpr int kOpenerWatchMs = 30000;
constexpr int kOpenerPollMs = 200;

const QString kInstallBrowser = QStringLiteral(
    "ウェブブラウザで開くには、xdg-utils パッケージとウェブブラウザ"
    "（firefox-esr など）をインストールしてください。");

void tell(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Information, kAppTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

QString cannotOpen(const QUrl& url) {
    return QStringLiteral("リンクを開けませんでした：\n") + url.toString() + QStringLiteral("\n") +
           kInstallBrowser;
}

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Ferretta ヘルプ"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("helpBrowser"));
    // The page's own sections and pages are shown here; anything else goes outside.
    m_browser->setOpenLinks(false);
    connect(m_browser, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& url) { followLink(url); });
    auto* close = new QPushButton(QStringLiteral("閉じる"), this);
    close->setObjectName(QStringLiteral("helpClose"));
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_browser, 1);
    layout->addWidget(close, 0, Qt::AlignRight);
    resize(720, 600);
}

bool HelpWindow::showSection(const QString& section) {
    const QUrl page = helpPageUrl();
    if (!QFileInfo::exists(page.toLocalFile())) {
        tell(this, QStringLiteral("ヘルプのページが見つかりません：\n") + page.toLocalFile() +
                       QStringLiteral("\nFerretta をインストールし直してください。"));
        return false;
    }
    QUrl target = page;
    if (!section.isEmpty())
        target.setFragment(section);
    m_browser->setSource(target);
    if (!section.isEmpty())
        m_browser->scrollToAnchor(section);
    return true;
}

void HelpWindow::followLink(const QUrl& url) {
    const QUrl resolved = m_browser->source().resolved(url);
    if (resolved.isLocalFile() && resolved.toLocalFile().endsWith(QStringLiteral(".html"))) {
        m_browser->setSource(resolved);
        return;
    }
    openOutside(this, resolved);
}

void showHelp(QWidget* parent, const QString& section) {
    // Over a modal box (the About box, the options) a window of its own could not be used
    // until that box closed: the page is shown modally over it instead.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        HelpWindow help(modal);
        if (help.showSection(section))
            help.exec();
        return;
    }
    QWidget* root = parent;
    while (root != nullptr && root->parentWidget() != nullptr)
        root = root->parentWidget();
    static QPointer<HelpWindow> window;
    if (window.isNull() || window->parentWidget() != root)
        window = new HelpWindow(root);
    if (!window->showSection(section))
        return;
    window->show();
    window->raise();
    window->activateWindow();
}

void openOutside(QWidget* parent, const QUrl& url) {
    std::string error;
    const auto pid = platform::startProcess({"xdg-open", url.toString().toStdString()}, &error);
    if (!pid) {
        tell(parent, cannotOpen(url));
        return;
    }
    // xdg-open ends at once when the browser it starts runs on by itself, and with an error
    // (3: no program for it, 4: the program failed) when nothing could open the address.
    auto* timer = new QTimer(parent);
    auto waited = std::make_shared<int>(0);
    QPointer<QWidget> owner(parent);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, waited, owner, url, pid = *pid] {
        *waited += kOpenerPollMs;
        const auto status = platform::takeEndedStatus(pid);
        if (!status && *waited < kOpenerWatchMs)
            return;
        timer->deleteLater();
        if (status && (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0))
            tell(owner, cannotOpen(url));
    });
    timer->start(kOpenerPollMs);
}

}  // namespace ferretta::ui::modes
