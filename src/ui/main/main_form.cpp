#include "ui/main/main_form.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <cmath>
#include <optional>

#include "app/debug_log.h"
#include "drivers/office/libreoffice_loader.h"
#include "drivers/pim/desktop_store_loader.h"
#include "hits/results_file.h"
#include "hits/text_editor.h"
#include "pdf/frontends/pdf_viewer.h"
#include "platform/data_folder.h"
#include "run/run_safety.h"
#include "run/search_run.h"
#include "search/hit.h"
#include "search/query.h"
#include "searchers/office/office_run.h"
#include "searchers/outlook/outlook_search.h"
#include "ui/main/preview_pane.h"
#include "ui/main/qt_host.h"
#include "ui/main/results_delegate.h"
#include "ui/main/results_model.h"
#include "ui/main/twips.h"
#include "ui/modes/about_box.h"
#include "ui/modes/help_window.h"
#include "ui/modes/task_tray.h"
#include "ui/options/options_dialog.h"

namespace ferretta::ui::main {

namespace {

constexpr std::string_view kSearchPlace = "mainForm::Command2_Click";
constexpr int kKeyEnter = 13;
constexpr int kKeyEscape = 27;
// Room around the controls of the client area.
constexpr double kMarginTwips = 60;
// How long after a change of form the window is held to its place against late answers of
// the window manager.
constexpr std::int64_t kPlacementSettleMs = 1500;
constexpr int kIconPixels = 16;
constexpr int kContentColumn = 1;
constexpr int kPathColumn = 2;
// No column is made narrower than this by fitting, nor the content column by the others.
constexpr double kMinColumnTwips = 600;
// The normal window opens this share of the screen's width (unless the user gave it a size),
// and the path column takes this share of the list.
constexpr double kNormalWidthShare = 0.8;
constexpr double kPathShare = 0.3;
constexpr double kFittedListTwips = 7200;

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString csvFilter() {
    return QStringLiteral("CSVﾌｧｲﾙ(*.csv)");
}
QString textFilter() {
    return QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ(*.txt)");
}

QString searchCaption() {
    return QStringLiteral("検索(&F)");
}
QString stopCaption() {
    return QStringLiteral("中止(&C)");
}
QString applicationTitle() {
    return QStringLiteral("Ferretta");
}

}  // namespace

MainForm::MainForm(app::Settings& settings, QWidget* parent)
    : QMainWindow(parent), m_settings(settings), m_model(std::make_unique<ResultsModel>()) {
    setObjectName(QStringLiteral("mainForm"));
    setWindowTitle(applicationTitle());
    buildControls();
    buildMenus();
    m_host = std::make_unique<QtHost>(*this, *m_statusBar, *m_statusText, *m_model);
    m_machine = std::make_unique<modes::WindowStateMachine>(*this);
    m_tray = std::make_unique<modes::TaskTray>(
        *m_machine, modes::TaskTray::Handlers{
                        [this] { showOptions(); },
                        // The tray's entry does what the help menu's does, whatever that is.
                        [this] {
                            if (auto* about = findChild<QAction*>(QStringLiteral("mnVersionInfo")))
                                about->trigger();
                        }});
    setWindowIcon(m_tray->icon().icon());
    // A panel that appears, leaves or changes size moves the corner the window is pinned to.
    for (QScreen* each : QGuiApplication::screens()) {
        connect(each, &QScreen::availableGeometryChanged, this, [this] { followFrame(true); });
    }
}

MainForm::~MainForm() {
    // The view goes with the window's children; detach it before the model is destroyed.
    m_list->setModel(nullptr);
    // The pane's reading thread may be reading an item of the session's store: it ends first.
    delete m_preview;
    m_preview = nullptr;
}

void MainForm::buildControls() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    const int margin = twipsToPixelsX(kMarginTwips, this);
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(margin);

    auto* row = new QHBoxLayout();
    row->setSpacing(margin);
    m_combo = new QComboBox(central);
    m_combo->setObjectName(QStringLiteral("Combo1"));
    m_combo->setEditable(true);
    // What was typed is what is searched: no completion from the history fills in the rest of
    // an earlier search behind the user's back (the history is in the drop-down).
    m_combo->setCompleter(nullptr);
    // The history is kept by updateKeywordHistory alone; Enter must not add items of its own.
    m_combo->setInsertPolicy(QComboBox::NoInsert);
    m_combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_combo->setMinimumContentsLength(8);
    // An editable combo box keeps the focus itself and hands keys to its line edit directly,
    // past any filter of the line edit: Enter and Esc are seen on the box.
    m_combo->installEventFilter(this);

    m_searchButton = new QPushButton(searchCaption(), central);
    m_searchButton->setObjectName(QStringLiteral("Command2"));
    m_searchButton->setAutoDefault(false);

    m_optionsButton = new QToolButton(central);
    m_optionsButton->setObjectName(QStringLiteral("Command3"));
    m_optionsButton->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));

    m_toggleButton = new QToolButton(central);
    m_toggleButton->setObjectName(QStringLiteral("ToggleButton1"));
    m_toggleButton->setCheckable(true);
    m_toggleButton->setToolTip(QStringLiteral("サイズの変更"));
    m_toggleButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarUnshadeButton));

    row->addWidget(m_combo, 1);
    row->addWidget(m_searchButton);
    row->addWidget(m_optionsButton);
    row->addWidget(m_toggleButton);
    column->addLayout(row);

    m_list = new QTreeView(central);
    m_list->setObjectName(QStringLiteral("ListView1"));
    m_list->setModel(m_model.get());
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);  // keeps 100,000 rows fast to scroll
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setIconSize(QSize(kIconPixels, kIconPixels));
    m_delegate = new ResultsDelegate(m_list);
    m_list->setItemDelegate(m_delegate);
    QHeaderView* header = m_list->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    // The content column takes whatever width the others leave, so that all four stay in
    // view; the others keep the widths they are given (fitColumns) or the user drags.
    header->setSectionResizeMode(kContentColumn, QHeaderView::Stretch);
    header->setMinimumSectionSize(twipsToPixelsX(kMinColumnTwips, this));
    const auto widths = ResultsModel::initialColumnWidthsTwips();
    for (int i = 0; i < ResultsModel::columnCountFixed; ++i) {
        m_list->setColumnWidth(i, twipsToPixelsX(widths[static_cast<std::size_t>(i)], this));
    }
    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
    m_splitter = new QSplitter(Qt::Vertical, central);
    m_splitter->setObjectName(QStringLiteral("ResultsSplitter"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(m_list);
    m_preview = new PreviewPane(m_splitter);
    m_splitter->addWidget(m_preview);
    m_splitter->setStretchFactor(0, 3);
    m_splitter->setStretchFactor(1, 2);
    m_preview->hide();
    column->addWidget(m_splitter, 1);
    setCentralWidget(central);

    m_statusBar = statusBar();
    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    // One simple text that stays until the program changes it; the bar's own messages are
    // temporary and an opened menu would clear them.
    m_statusText = new QLabel(m_statusBar);
    m_statusText->setObjectName(QStringLiteral("StatusText"));
    // A long text is cut at the window's edge, not made to widen the window.
    m_statusText->setMinimumWidth(1);
    m_statusBar->addWidget(m_statusText, 1);

    connect(m_searchButton, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(m_optionsButton, &QToolButton::clicked, this, [this] { showOptions(); });
    connect(m_toggleButton, &QToolButton::clicked, this, [this] {
        m_machine->matrixCall(modes::EventToggle);
        // The click flipped the button already; it shows the form the machine settled on.
        m_toggleButton->setChecked(m_machine->stateNumber() == modes::StateNormal);
    });
    connect(m_list, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { openRow(index.row()); });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { previewCurrentRow(); });
    // Rows sorted or cleared under the selection.
    connect(m_model.get(), &QAbstractItemModel::modelReset, this, [this] { previewCurrentRow(); });
    connect(m_list->header(), &QHeaderView::sectionClicked, this, [this](int section) {
        m_model->columnClicked(section);
        m_list->header()->setSortIndicatorShown(true);
        m_list->header()->setSortIndicator(m_model->sortColumn(), m_model->sortOrder());
    });
}

void MainForm::buildMenus() {
    QMenuBar* bar = menuBar();
    auto addMenu = [bar](const char* name, const QString& caption) {
        QMenu* menu = bar->addMenu(caption);
        menu->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    auto addItem = [this](QMenu* menu, const char* name, const QString& caption,
                          const QKeySequence& keys, auto handler) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        if (!keys.isEmpty())
            action->setShortcut(keys);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };

    QMenu* file = addMenu("mnFile", QStringLiteral("ﾌｧｲﾙ(&F)"));
    addItem(file, "mnSave", QStringLiteral("検索結果を保存(&S)"),
            QKeySequence(Qt::CTRL | Qt::Key_S), [this] { mnSave_Click(); });
    m_mnUnreadable = addItem(file, "mnUnreadable", QStringLiteral("読めなかったファイル(&U)..."),
                             QKeySequence(), [this] { showUnreadable(); });
    m_mnUnreadable->setEnabled(false);
    file->addSeparator()->setObjectName(QStringLiteral("mnBar0"));
    addItem(file, "mnEnd", QStringLiteral("終了(&X)"), QKeySequence(), [this] { close(); });

    QMenu* view = addMenu("mnView", QStringLiteral("表示(&V)"));
    m_mnTopMost =
        addItem(view, "mnTopMost", QStringLiteral("常に手前に表示(&P)"), QKeySequence(), [this] {
            m_settings.topMost = m_mnTopMost->isChecked();
            controlTopMost(m_settings.topMost);
        });
    m_mnPositionFixed = addItem(view, "mnPositionFixed",
                                QStringLiteral("表示位置を画面右下に固定(&F)"), QKeySequence(),
                                // Takes effect at the next change of form; nothing moves now.
                                [this] { m_settings.fixed = m_mnPositionFixed->isChecked(); });
    m_mnStatusBar =
        addItem(view, "mnStatusBar", QStringLiteral("ステータスバー(&S)"), QKeySequence(), [this] {
            m_settings.statusBar = m_mnStatusBar->isChecked();
            m_statusBar->setVisible(m_settings.statusBar);
            Form_Resize();
        });
    m_mnPreview = addItem(view, "mnPreview", QStringLiteral("プレビュー(&R)"), QKeySequence(),
                          [this] { showPreview(m_mnPreview->isChecked()); });
    addItem(view, "mnNextHit", QStringLiteral("次のヒット(&N)"), QKeySequence(Qt::Key_F3),
            [this] { moveToHit(1); });
    addItem(view, "mnPreviousHit", QStringLiteral("前のヒット(&B)"),
            QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { moveToHit(-1); });
    for (QAction* check : {m_mnTopMost, m_mnPositionFixed, m_mnStatusBar, m_mnPreview})
        check->setCheckable(true);
    addItem(view, "mnMinimum", QStringLiteral("ミニマム(&M)"), QKeySequence(Qt::Key_F9),
            [this] { m_machine->matrixCall(modes::EventBeMinimum); });
    addItem(view, "mnBeIcon", QStringLiteral("アイコン化(&I)"), QKeySequence(),
            [this] { m_machine->matrixCall(modes::EventBeIcon); });

    QMenu* tool = addMenu("mnTool", QStringLiteral("ﾂｰﾙ(&T)"));
    addItem(tool, "mnOption", QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"), QKeySequence(Qt::CTRL | Qt::Key_O),
            [this] { showOptions(); });

    QMenu* help = addMenu("mnHelp", QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    addItem(help, "mnHelpContents", QStringLiteral("ﾍﾙﾌﾟの表示(&H)"), QKeySequence(Qt::Key_F1),
            [this] { modes::showHelp(this); });
    addItem(help, "mnVersionInfo", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"), QKeySequence(),
            [this] { modes::showAboutBox(this); });
}

void MainForm::applySettings() {
    m_mnPositionFixed->setChecked(m_settings.fixed);
    m_mnStatusBar->setChecked(m_settings.statusBar);
    m_statusBar->setVisible(m_settings.statusBar);
    m_mnTopMost->setChecked(m_settings.topMost);
    controlTopMost(m_mnTopMost->isChecked());
    m_mnPreview->setChecked(m_settings.preview);
    showPreview(m_settings.preview);

    m_combo->clear();
    for (const auto& word : m_settings.keywords) {
        if (!word.empty())
            m_combo->addItem(toQString(word));
    }
    m_combo->setEditText(QString());

    // A pinned window is placed by every change of form; otherwise it opens where it was left.
    if (!m_settings.fixed && m_settings.lastX && m_settings.lastY) {
        move(twipsToPixelsX(*m_settings.lastX, this), twipsToPixelsY(*m_settings.lastY, this));
    }
}

std::vector<std::string> MainForm::keywordItems() const {
    std::vector<std::string> items;
    items.reserve(static_cast<std::size_t>(m_combo->count()));
    for (int i = 0; i < m_combo->count(); ++i)
        items.push_back(m_combo->itemText(i).toStdString());
    return items;
}

void MainForm::updateKeywordHistory() {
    const QString text = m_combo->currentText();
    auto items = run::updateKeywordHistory(keywordItems(), text.toStdString());
    m_combo->clear();
    for (const auto& item : items)
        m_combo->addItem(toQString(item));
    m_combo->setEditText(text);
    m_settings.keywords = std::move(items);
}

void MainForm::Command2_Click() {
    if (m_flags.isSearching) {
        // A nested click: the running search sees the flag after its next doEvents and unwinds;
        // the time is taken now, so the summary counts to the press.
        search::requestStop(m_flags);
        return;
    }
    if (m_combo->currentText().isEmpty()) {
        m_host->showMessage("検索文字列を入力してください", app::MessageStyle::Information);
        return;
    }
    app::logWrite(kSearchPlace, "検索処理開始");
    updateKeywordHistory();
    m_searchButton->setText(stopCaption());
    m_optionsButton->setEnabled(false);
    m_toggleButton->setEnabled(false);
    m_model->clear();
    m_host->startSearch();
    m_mnUnreadable->setEnabled(false);
    m_statusText->setToolTip(QString());
    // The words of this search are marked in its rows, whatever the options say later.
    auto marks = std::make_shared<search::Matcher>(m_settings.regular, m_settings.strict);
    marks->targetStrsSplit(m_combo->currentText().toStdString());
    m_delegate->setMatcher(std::move(marks));
    m_preview->setQuery(m_combo->currentText().toStdString(), m_settings.regular,
                        m_settings.strict);

    run::SearchRunHooks hooks;
    hooks.officeSession = [this]() -> searchers::office::OfficeSession& { return officeSession(); };
    hooks.outlookSession = [this]() -> searchers::outlook::OutlookSession& {
        return outlookSession();
    };
    hooks.searchFinished = [this] {
        m_toggleButton->setEnabled(true);
        m_optionsButton->setEnabled(true);
        m_searchButton->setText(searchCaption());
    };
    hooks.hitCount = [this] { return static_cast<std::int64_t>(m_model->rowCount()); };
    const run::SearchOutcome outcome = run::runSearchCommand(
        *m_host, m_settings, m_flags, m_combo->currentText().toStdString(), hooks);
    showUnreadableCount(outcome.unreadable);
    if (m_isExiting) {
        // The program ended below this search (the tray's exit): the window stays gone.
        return;
    }

    m_machine->matrixCall(modes::EventSearchDone);
    m_list->setFocus();
    if (m_model->rowCount() > 0) {
        m_list->setCurrentIndex(m_model->index(0, 0));
        m_list->scrollToTop();
    }
    setWindowTitle(applicationTitle());
    app::logWrite(kSearchPlace, "検索処理終了");
}

void MainForm::Combo1_KeyPress(int key) {
    if (key == kKeyEnter) {
        Command2_Click();
    } else if (key == kKeyEscape && m_flags.isSearching) {
        search::requestStop(m_flags);
    }
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == m_list->viewport())
        fitColumns();
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (watched == m_combo) {
            if (enter)
                Combo1_KeyPress(kKeyEnter);
            if (key == Qt::Key_Escape)
                Combo1_KeyPress(kKeyEscape);
        } else if (watched == m_list && enter) {
            openRow(m_list->currentIndex().row());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainForm::openRow(int row) {
    if (row < 0 || row >= m_model->rowCount())
        return;
    const search::OpenAction action = search::openActionFor(m_model->hitAt(row));
    switch (action.kind) {
        case search::OpenAction::Kind::TextEditor:
            hits::openInEditor(*m_host, m_settings.editor, action.location, action.position,
                               action.search);
            break;
        case search::OpenAction::Kind::Pdf:
            // The viewer reports nothing itself; a missing viewer leaves the click without effect.
            pdf::pdfViewer().openPDFFile(action.location, action.page);
            break;
        case search::OpenAction::Kind::Word:
            searchers::office::openWordFile(officeSession(), *m_host, m_settings, action.location,
                                            action.search);
            break;
        case search::OpenAction::Kind::Excel:
            searchers::office::openExcelFile(officeSession(), *m_host, m_settings, action.location,
                                             action.sheet, action.position);
            break;
        case search::OpenAction::Kind::PowerPoint:
            searchers::office::openPowerPointFile(officeSession(), *m_host, m_settings,
                                                  action.location, action.position);
            break;
        case search::OpenAction::Kind::Outlook:
            searchers::outlook::openOutlookItem(outlookSession(), *m_host, action.fileType,
                                                action.location);
            break;
        case search::OpenAction::Kind::None:
            break;
    }
}

void MainForm::setOfficeAutomation(std::unique_ptr<platform::office::Automation> automation) {
    m_officeSession.reset();
    m_officeAutomation = std::move(automation);
}

void MainForm::setItemStore(std::unique_ptr<platform::pim::ItemStore> store) {
    m_outlookSession = std::make_unique<searchers::outlook::OutlookSession>(std::move(store));
}

searchers::outlook::OutlookSession& MainForm::outlookSession() {
    if (!m_outlookSession) {
        setItemStore(platform::pim::loadDesktopItemStore(
            platform::dataFolder(), [](std::string_view place, std::string_view message) {
                app::logWrite(place, message);
            }));
    }
    return *m_outlookSession;
}

searchers::office::OfficeSession& MainForm::officeSession() {
    if (!m_officeAutomation) {
        // The offices keep their profiles in the data folder; their own output goes beside the
        // debug log while the log is on, and is discarded otherwise.
        platform::office::LibreOfficeConfig config;
        config.profileRoot = platform::dataFolder() / "office";
        // A stop request ends a long office call; the window stays alive meanwhile.
        config.keepWaiting = run::officeKeepWaiting(*m_host, m_flags);
        config.documentTimeoutMs = m_settings.documentTimeLimit * 1000;
        if (app::debugLog().isLogOpen())
            config.logFile = app::debugLog().path().parent_path() / "office.log";
        m_officeAutomation = platform::office::loadLibreOfficeAutomation(config);
    }
    if (!m_officeSession)
        m_officeSession = std::make_unique<searchers::office::OfficeSession>(*m_officeAutomation);
    return *m_officeSession;
}

void MainForm::mnSave_Click() {
    if (m_model->rowCount() == 0) {
        m_host->showMessage("検索結果がありません", app::MessageStyle::Exclamation);
        return;
    }
    QString filter = m_lastSaveFilter.isEmpty() ? csvFilter() : m_lastSaveFilter;
    const QString folder =
        m_settings.saveFolder.empty() ? QDir::currentPath() : toQString(m_settings.saveFolder);
    const QString proposed = QDir(folder).filePath(proposedSaveName(QDateTime::currentDateTime()));
    // saveResults asks about an existing file itself, with the program's own question.
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("検索結果の保存"), proposed,
        csvFilter() + QStringLiteral(";;") + textFilter() + QStringLiteral(";;全てのﾌｧｲﾙ(*.*)"),
        &filter, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return;
    path = withFilterSuffix(path, filter);
    m_lastSaveFilter = filter;
    m_settings.saveFolder = QFileInfo(path).absolutePath().toStdString();
    saveResultsTo(std::filesystem::path(path.toStdString()));
}

QString MainForm::proposedSaveName(const QDateTime& now) {
    return QStringLiteral("検索結果_") + now.toString(QStringLiteral("yyyyMMdd_HHmm")) +
           QStringLiteral(".csv");
}

QString MainForm::withFilterSuffix(const QString& path, const QString& filter) {
    // The file's own name decides: "list" gets the filter's extension, "list.txt" and "list."
    // stay as they are.
    if (QFileInfo(path).fileName().contains(QLatin1Char('.')))
        return path;
    if (filter == csvFilter())
        return path + QStringLiteral(".csv");
    if (filter == textFilter())
        return path + QStringLiteral(".txt");
    return path;
}

void MainForm::showUnreadableCount(std::int64_t count) {
    const auto& kept = m_host->unreadable();
    m_mnUnreadable->setEnabled(!kept.empty());
    if (kept.empty()) {
        m_statusText->setToolTip(m_statusText->text());
        return;
    }
    QString tip = m_statusText->text() + QStringLiteral("\n読めなかったファイル：");
    constexpr std::size_t kTipLines = 10;
    for (std::size_t i = 0; i < kept.size() && i < kTipLines; ++i)
        tip += QStringLiteral("\n") + toQString(kept[i].path);
    if (count > static_cast<std::int64_t>(kTipLines))
        tip += QStringLiteral("\n…ほか%1件（ﾌｧｲﾙ > 読めなかったファイル）")
                   .arg(count - static_cast<std::int64_t>(kTipLines));
    m_statusText->setToolTip(tip);
}

void MainForm::showUnreadable() {
    const auto& kept = m_host->unreadable();
    if (kept.empty())
        return;
    QString list;
    for (const auto& entry : kept)
        list += toQString(entry.path) + QStringLiteral("\t") + toQString(entry.reason) +
                QStringLiteral("\n");
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("frmUnreadable"));
    dialog.setWindowTitle(QStringLiteral("読めなかったファイル"));
    auto* text = new QPlainTextEdit(list, &dialog);
    text->setObjectName(QStringLiteral("unreadableList"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(
        QStringLiteral("次のファイルやフォルダは読めなかったため検索していません（%1件）：")
            .arg(kept.size()),
        &dialog));
    layout->addWidget(text, 1);
    layout->addWidget(buttons);
    dialog.resize(640, 360);
    dialog.exec();
}

bool MainForm::saveResultsTo(const std::filesystem::path& path) {
    const std::vector<app::Hit> rows = m_model->rowsInOrder();
    return hits::saveResults(*m_host, path, rows);
}

void MainForm::showOptions() {
    if (m_optionsDialog == nullptr) {
        // A child of the window: it lives as long as the window does.
        m_optionsDialog = new options::Dialog(m_settings, this);
        options::MainWindowLink link;
        link.isInTaskTray = [this] {
            const int state = m_machine->stateNumber();
            return state == modes::StateTrayFromMinimum || state == modes::StateTrayFromNormal;
        };
        link.controlTopMost = [this](bool topMost) { controlTopMost(topMost); };
        link.topMostChecked = [this] { return m_mnTopMost->isChecked(); };
        m_optionsDialog->setMainWindowLink(std::move(link));
    }
    m_optionsDialog->loadMemory2Form();
    m_optionsDialog->exec();
}

// --- Window forms ----------------------------------------------------------------------------

void MainForm::setOuterSize(int width, int height) {
    // Qt sizes the client area; the frame (caption, borders) comes on top of it.
    const int frameWidth = frameGeometry().width() - geometry().width();
    const int frameHeight = frameGeometry().height() - geometry().height();
    resize(std::max(1, width - frameWidth), std::max(1, height - frameHeight));
}

QPoint MainForm::placementTarget() const {
    const QRect outer = frameGeometry();
    const QScreen* screenNow = screen();
    if (m_placement == Placement::None || screenNow == nullptr)
        return outer.topLeft();
    const QRect area = screenNow->availableGeometry();
    int left = outer.x();
    int top = outer.y();
    if (m_placement == Placement::BottomRight) {
        left = area.x() + area.width() - outer.width();
        top = area.y() + area.height() - outer.height();
    } else {
        if (top + outer.height() > area.y() + area.height())
            top = area.y() + area.height() - outer.height();
        if (left + outer.width() > area.x() + area.width())
            left = area.x() + area.width() - outer.width();
    }
    return {left, top};
}

void MainForm::applyPlacement() {
    m_placedMargins = frameMargins();
    // move() places the frame's corner, as frameGeometry reports it.
    const QPoint target = placementTarget();
    if (target != frameGeometry().topLeft())
        move(target);
}

void MainForm::placeForm() {
    applyPlacement();
    m_settleUntil = platform::steadyMilliseconds() + kPlacementSettleMs;
}

void MainForm::followFrame(bool areaChanged) {
    if (m_isModeChanging || m_isExiting || !isVisible() || isMinimized())
        return;
    const int state = m_machine->stateNumber();
    if (state != modes::StateMinimum && state != modes::StateNormal)
        return;
    const bool frameChanged = frameMargins() != m_placedMargins;
    // Window managers answer a resize and a move in their own time, and an answer to the
    // resize may come back with the position from before the move: shortly after a change of
    // form the window is put back where the rule wants it.
    const bool settling = platform::steadyMilliseconds() < m_settleUntil;
    const bool misplaced = settling && placementTarget() != frameGeometry().topLeft();
    // Otherwise a window the user moved stays where it was put.
    if (!frameChanged && !areaChanged && !misplaced)
        return;
    m_isModeChanging = true;
    if (frameChanged) {
        if (state == modes::StateMinimum) {
            sizeMinimum();
        } else {
            snapNormalSize();
        }
        m_settleUntil = platform::steadyMilliseconds() + kPlacementSettleMs;
    }
    applyPlacement();
    m_isModeChanging = false;
}

QMargins MainForm::frameMargins() const {
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

void MainForm::setMenusVisible(bool visible) {
    menuBar()->setVisible(visible);
}

void MainForm::beMinimum() {
    m_isModeChanging = true;
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    m_list->hide();
    m_splitter->hide();
    m_statusBar->hide();
    setMenusVisible(false);
    // The layouts learn of the hidden list only at their next activation; until then the
    // window's minimum height is still the normal form's and would hold the resize below.
    centralWidget()->layout()->activate();
    layout()->activate();
    sizeMinimum();
    m_placement = m_settings.fixed ? Placement::BottomRight : Placement::None;
    placeForm();
    showToggleState(false);
    m_isModeChanging = false;
    m_combo->setFocus();
    controlTopMost(m_mnTopMost->isChecked());
}

void MainForm::sizeMinimum() {
    const int frameWidth = frameGeometry().width() - geometry().width();
    // The caption is the frame's; the client area holds the one row of controls.
    const int rowHeight = std::max(twipsToPixelsY(minimumRowTwips, this),
                                   centralWidget()->minimumSizeHint().height());
    const QSize target(std::max(1, twipsToPixelsX(minimumWidthTwips, this) - frameWidth),
                       rowHeight);
    if (size() != target)
        resize(target);
}

// The toggle is pressed in the normal form; its arrow points the way the next click goes.
void MainForm::showToggleState(bool normal) {
    m_toggleButton->setChecked(normal);
    m_toggleButton->setIcon(style()->standardIcon(normal ? QStyle::SP_TitleBarShadeButton
                                                         : QStyle::SP_TitleBarUnshadeButton));
}

void MainForm::beNormal() {
    m_isModeChanging = true;
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    show();
    m_sizeLeft = size();
    // Grown before the list and the menus show: shown first, they would grow the window in
    // steps, each a request that the window manager answers late.
    sizeNormal();
    m_list->show();
    m_splitter->show();
    m_statusBar->setVisible(m_mnStatusBar->isChecked());
    setMenusVisible(true);
    // The smallest size first: placing before it would leave a grown window sticking out.
    snapNormalSize();
    m_normalTarget = size();
    m_placement = m_settings.fixed ? Placement::BottomRight : Placement::InsideWorkArea;
    placeForm();
    m_combo->setFocus();
    showToggleState(true);
    controlTopMost(m_mnTopMost->isChecked());
    m_isModeChanging = false;
}

void MainForm::Form_Resize() {
    if (m_isModeChanging)
        return;
    if (isMinimized() && !m_isInTaskTray) {
        m_machine->matrixCall(modes::EventMinimized);
        return;
    }
    // Minimized in the task bar in place of the tray: nothing to lay out.
    if (isMinimized())
        return;
    const int state = m_machine->stateNumber();
    if (state == modes::StateMinimum) {
        // Whatever the user dragged, the compact form comes back.
        beMinimum();
        return;
    }
    if (state == modes::StateNormal) {
        if (isLateAnswer()) {
            // The answers to this resize and to the placement that follows come late as well.
            m_isModeChanging = true;
            resize(m_normalTarget);
            m_isModeChanging = false;
            m_settleUntil = platform::steadyMilliseconds() + kPlacementSettleMs;
            return;
        }
        snapNormalSize();
        rememberNormalSize();
    }
}

bool MainForm::isLateAnswer() const {
    if (platform::steadyMilliseconds() >= m_settleUntil || !m_normalTarget.isValid())
        return false;
    const QSize now = size();
    return now != m_normalTarget &&
           (now.width() == m_sizeLeft.width() || now.height() == m_sizeLeft.height());
}

void MainForm::sizeNormal() {
    const QScreen* screenNow = screen();
    const QRect area = screenNow != nullptr ? screenNow->availableGeometry() : QRect();
    if (m_settings.normalWidth && m_settings.normalHeight) {
        // The size the user gave it, frame included, as much of it as the screen holds.
        int width = twipsToPixelsX(*m_settings.normalWidth, this);
        int height = twipsToPixelsY(*m_settings.normalHeight, this);
        if (area.isValid()) {
            width = std::min(width, area.width());
            height = std::min(height, area.height());
        }
        setOuterSize(width, height);
        return;
    }
    // Wide enough for the summary and the four columns; the design's height below the caption.
    const int frameWidth = frameGeometry().width() - geometry().width();
    const int width = area.isValid() ? static_cast<int>(area.width() * kNormalWidthShare) : 800;
    resize(std::max(1, width - frameWidth), twipsToPixelsY(normalClientTwips, this));
}

void MainForm::rememberNormalSize() {
    if (!isVisible() || isMinimized() || isMaximized() || isFullScreen())
        return;
    const QSize outer = frameGeometry().size();
    m_settings.normalWidth = static_cast<int>(std::lround(pixelsToTwipsX(outer.width(), this)));
    m_settings.normalHeight = static_cast<int>(std::lround(pixelsToTwipsY(outer.height(), this)));
}

void MainForm::fitColumns() {
    QHeaderView* header = m_list->header();
    const int available = m_list->viewport()->width();
    if (available <= 0)
        return;
    const int minimum = header->minimumSectionSize();
    int others = 0;
    for (int column = 0; column < ResultsModel::columnCountFixed; ++column) {
        if (column != kContentColumn && column != kPathColumn)
            others += header->sectionSize(column);
    }
    // At the first look the path column gets its share; later only what keeps the content
    // column in view: the user's own widths stay otherwise.
    const int room = std::max(minimum, available - others - 2 * minimum);
    int path = header->sectionSize(kPathColumn);
    if (!m_columnsFitted)
        path = static_cast<int>(available * kPathShare);
    path = std::min(path, room);
    header->resizeSection(kPathColumn, std::max(minimum, path));
    // A list still on its way to its size (the window manager answers in steps) is fitted
    // again once it is.
    m_columnsFitted = m_columnsFitted || available >= twipsToPixelsX(kFittedListTwips, this);
}

void MainForm::snapNormalSize() {
    if (isMinimized() || isMaximized() || isFullScreen())
        return;
    // The list and the status bar are laid out by the window's layout: a hidden status bar
    // leaves its height to the list. Only the smallest size is kept here.
    const QSize outer = frameGeometry().size();
    const int minWidth = twipsToPixelsX(normalMinWidthTwips, this);
    const int minHeight = twipsToPixelsY(normalMinHeightTwips, this);
    if (outer.width() < minWidth || outer.height() < minHeight) {
        setOuterSize(std::max(outer.width(), minWidth), std::max(outer.height(), minHeight));
    }
}

void MainForm::controlTopMost(bool topMost) {
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topMost)
        return;
    // Changing a window flag hides the window; show it again where it was.
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    if (wasVisible)
        show();
}

void MainForm::taskTrayOn() {
    if (m_isInTaskTray)
        return;
    m_isInTaskTray = true;  // first: hiding or minimizing must not count as the user's minimize
    if (m_tray->show()) {
        hide();
    } else {
        // No tray on this desktop: the task bar keeps the window reachable, and restoring it
        // from there counts as the tray icon's click (changeEvent).
        showMinimized();
    }
}

void MainForm::taskTrayOff() {
    if (!m_isInTaskTray)
        return;
    m_tray->hide();
    // The following beMinimum or beNormal of the machine brings it back to its size.
    show();
    controlTopMost(m_mnTopMost->isChecked());
    m_isInTaskTray = false;
}

void MainForm::exitPoint() {
    // Once only, whoever asks and whatever the window's form: the program ends here, nothing
    // brings the window back and no window is asked whether it may close.
    if (m_isExiting)
        return;
    m_isExiting = true;
    // A search running below this call unwinds, silently (the exit handler may still tell the
    // user that the settings could not be saved); the event loop ends once it has.
    m_flags.isAbort = true;
    if (m_exitHandler) {
        m_exitHandler();
    } else {
        QCoreApplication::exit(0);
    }
    m_host->endMessages();
    m_tray->hide();
    hide();
}

void MainForm::setToggleButton(bool pressed) {
    m_toggleButton->setChecked(pressed);
}

void MainForm::showMainWindow() {
    show();
    // The frame's size is known only once the window is shown; the compact form was sized
    // without it on the way here.
    if (m_list->isHidden())
        beMinimum();
    raise();
    activateWindow();
}

void MainForm::focusSearchBox() {
    m_combo->setFocus();
}

void MainForm::reportBadEvent(int state, int event) {
    m_host->showMessage(modes::badEventText(state, event), app::MessageStyle::Exclamation);
}

void MainForm::bringToFront() {
    const int state = m_machine->stateNumber();
    if (state == modes::StateTrayFromMinimum || state == modes::StateTrayFromNormal) {
        m_machine->matrixCall(modes::EventHotKey);
    } else {
        raise();
        activateWindow();
    }
}

QString MainForm::statusText() const {
    return m_statusText->text();
}

bool MainForm::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::StatusTip:
            // Menus report their entries' (empty) tips here; the simple text stays.
            return true;
        case QEvent::Show: {
            const bool handled = QMainWindow::event(event);
            followFrame();
            return handled;
        }
        default:
            return QMainWindow::event(event);
    }
}

void MainForm::showPreview(bool on) {
    m_settings.preview = on;
    m_preview->setVisible(on);
    previewCurrentRow();
}

void MainForm::previewCurrentRow() {
    if (m_preview->isHidden())
        return;
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid()) {
        m_preview->showHit(std::nullopt);
        return;
    }
    app::Hit hit = m_model->hitAt(current.row());
    hits::ItemReader readItem =
        m_outlookSession ? m_outlookSession->itemReader(hit.fileType, hit.location) : nullptr;
    m_preview->showHit(hit, std::move(readItem));
}

void MainForm::moveToHit(int step) {
    const int rows = m_model->rowCount();
    if (rows == 0)
        return;
    const QModelIndex current = m_list->currentIndex();
    const int row = current.isValid() ? std::clamp(current.row() + step, 0, rows - 1) : 0;
    m_list->setCurrentIndex(m_model->index(row, 0));
    m_list->scrollTo(m_list->currentIndex());
}

void MainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // A wide window has the pane beside the list, a tall one below it.
    m_splitter->setOrientation(2 * width() >= 5 * height() ? Qt::Horizontal : Qt::Vertical);
    Form_Resize();
    followFrame();
}

void MainForm::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    followFrame();
}

void MainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    if (m_isInTaskTray && !isMinimized()) {
        // The user restored the window from the task bar: as if the tray icon was clicked.
        m_machine->matrixCall(modes::EventTrayClick);
        return;
    }
    Form_Resize();
}

void MainForm::closeEvent(QCloseEvent* event) {
    // The machine ends the program through exitPoint. When it cannot take the event now (it is
    // busy with another), the window stays open rather than vanish with the program running.
    if (m_isExiting || m_machine->matrixCall(modes::EventUnload)) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace ferretta::ui::main
