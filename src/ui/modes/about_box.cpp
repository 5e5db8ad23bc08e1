#include "ui/modes/about_box.h"

#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/debug_log.h"
#include "platform/data_folder.h"
#include "ui/modes/help_window.h"

#ifndef FERRETTA_VERSION
#error "FERRETTA_VERSION (the project version) must be defined for the About box"
#endif

namespace ferretta::ui::modes {
namespace {

const QString kAppTitle = QStringLiteral("Ferretta");

// The program's own icon (the window's, which falls back to the application's) when there is
// one; otherwise a drawn badge, so that the switch is always something to click.
QIcon programIcon(const QIcon& icon) {
    if (!icon.isNull())
        return icon;
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x8a, 0x5a, 0x2b));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("F"));
    painter.end();
    return QIcon(pixmap);
}

QLabel* linkLabel(const QString& objectName, const QUrl& url, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::RichText);
    const QString shown = url.toString(QUrl::PreferLocalFile | QUrl::RemoveFragment) +
                          (url.hasFragment() ? QStringLiteral("#") + url.fragment() : QString());
    label->setText(
        QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), shown.toHtmlEscaped()));
    // The click goes through our handler, not straight to the desktop, so that it does what
    // the handler says and tests can follow it.
    label->setOpenExternalLinks(false);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setWordWrap(true);
    return label;
}

}  // namespace

QString programVersion() {
    return QStringLiteral(FERRETTA_VERSION);
}

QUrl helpPageUrl() {
    const std::filesystem::path page = platform::findDataFile("help/index.html");
    return QUrl::fromLocalFile(QString::fromStdString(page.string()));
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(kAppTitle + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));

    m_picIcon = new QToolButton(this);
    m_picIcon->setObjectName(QStringLiteral("picIcon"));
    m_picIcon->setIcon(programIcon(windowIcon()));
    m_picIcon->setIconSize(QSize(32, 32));
    m_picIcon->setAutoRaise(true);
    // The switch is a developer's tool: it must not take the focus that OK has.
    m_picIcon->setFocusPolicy(Qt::NoFocus);
    connect(m_picIcon, &QToolButton::clicked, this, [this] { picIcon_Click(); });

    m_lblTitle = new QLabel(kAppTitle, this);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = m_lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    m_lblTitle->setFont(titleFont);

    m_lblVersion = new QLabel(QStringLiteral("ver.") + programVersion(), this);
    m_lblVersion->setObjectName(QStringLiteral("lblVersion"));

    const QUrl help = helpPageUrl();
    QUrl contact = help;
    contact.setFragment(QStringLiteral("contact"));
    m_label3 = linkLabel(QStringLiteral("Label3"), help, this);
    m_label5 = linkLabel(QStringLiteral("Label5"), contact, this);
    connect(m_label3, &QLabel::linkActivated, this, [this] { Label3_Click(); });
    connect(m_label5, &QLabel::linkActivated, this, [this] { Label5_Click(); });

    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setDefault(true);
    connect(m_cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });

    auto* heading = new QVBoxLayout;
    heading->addWidget(m_lblTitle);
    heading->addWidget(m_lblVersion);
    auto* top = new QHBoxLayout;
    top->addWidget(m_picIcon, 0, Qt::AlignTop);
    top->addLayout(heading, 1);

    auto* links = new QGridLayout;
    links->addWidget(new QLabel(QStringLiteral("ホームページ："), this), 0, 0);
    links->addWidget(m_label3, 0, 1);
    links->addWidget(new QLabel(QStringLiteral("メールアドレス："), this), 1, 0);
    links->addWidget(m_label5, 1, 1);
    links->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdOK);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(links);
    layout->addLayout(buttons);
    setMinimumWidth(360);
}

void AboutBox::Label3_Click() {
    showHelp(this);
}

void AboutBox::Label5_Click() {
    showHelp(this, QStringLiteral("contact"));
}

void AboutBox::picIcon_Click() {
    app::DebugLog& log = app::debugLog();
    if (log.isLogOpen()) {
        log.logClose();
        showPlainMessage(QStringLiteral("デバッグログへの書き込みを終了します"));
    } else if (log.logOpen()) {
        showPlainMessage(QStringLiteral("デバッグログへの書き込みを開始します"));
    } else {
        showPlainMessage(QStringLiteral("デバッグログへの書き込みが開始できませんでした"));
    }
}

void AboutBox::cmdOK_Click() {
    accept();
}

void AboutBox::showPlainMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, this);
    box.exec();
}

void showAboutBox(QWidget* parent) {
    AboutBox box(parent);
    box.exec();
}

}  // namespace ferretta::ui::modes
