#include "ui/options/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <initializer_list>

#include "platform/width_fold.h"
#include "run/document_cache_use.h"
#include "ui/modes/about_box.h"
#include "ui/modes/help_window.h"
#include "ui/options/outlook_places_dialog.h"

namespace ferretta::ui::options {

namespace {

// Windows' "*.*" also matches names without a dot, as most programs here are named; Qt's
// pattern for every file is "*".
const QString kProgramFilter = QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝ(*.exe);;全てのﾌｧｲﾙ(*)");

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString indexedName(const char* stem, int index) {
    return QString::fromLatin1(stem) + QLatin1Char('_') + QString::number(index);
}

// A label shows its text as it is: no rich text, no mnemonics.
QLabel* plainLabel(const QString& objectName, const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QGroupBox* frame(const char* objectName, const QString& title, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(objectName));
    return box;
}

QPushButton* button(const QString& objectName, const QString& caption, QWidget* parent) {
    auto* push = new QPushButton(caption, parent);
    push->setObjectName(objectName);
    // Only OK answers Enter; a button that has the focus answers it while it has.
    push->setAutoDefault(false);
    return push;
}

QCheckBox* checkBox(const QString& objectName, const QString& caption, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(objectName);
    return box;
}

QLineEdit* lineEdit(const char* objectName, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    return edit;
}

// Indents the example lines under their headings.
QHBoxLayout* indented(QWidget* widget, int indent) {
    auto* row = new QHBoxLayout;
    row->addSpacing(indent);
    row->addWidget(widget, 1);
    return row;
}

}  // namespace

QString normalizedTag(const QString& text) {
    const std::u16string upper = platform::toUpperCase(text.toStdU16String());
    return QString::fromStdU16String(platform::toHalfWidth(upper));
}

void makeFolderCurrent(app::Settings& settings, std::string_view folder) {
    auto& list = settings.dirList;
    int found = -1;
    for (int k = 0; k < app::folderHistorySize; ++k) {
        if (list[static_cast<std::size_t>(k)] == folder) {
            found = k;
            break;
        }
    }
    if (found != 0) {
        // A found entry is overwritten by the shift; without one the last entry falls off.
        const int from = found > 0 ? found : app::folderHistorySize - 1;
        for (int j = from; j >= 1; --j)
            list[static_cast<std::size_t>(j)] = std::move(list[static_cast<std::size_t>(j - 1)]);
        list[0] = std::string(folder);
    }
    settings.dir = list[0];
}

Dialog::Dialog(app::Settings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_helpUrl(modes::helpPageUrl()) {
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(QStringLiteral("Ferrettaの設定"));

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("SSTab1"));
    m_tabs->addTab(buildSearchTab(), QStringLiteral("検索条件"));
    m_tabs->addTab(buildTextTab(), QStringLiteral("テキスト検索"));
    m_tabs->addTab(buildPdfTab(), QStringLiteral("PDF検索"));
    m_tabs->addTab(buildOfficeTab(), QStringLiteral("Office検索"));

    m_okButton = new QPushButton(QStringLiteral("OK(&O)"), this);
    m_okButton->setObjectName(QStringLiteral("OKButton"));
    m_okButton->setDefault(true);
    m_cancelButton = button(QStringLiteral("cancelButton"), QStringLiteral("キャンセル(&C)"), this);
    connect(m_okButton, &QPushButton::clicked, this, [this] { OKButton_Click(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { cancelButton_Click(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);

    // Start from the settings, so that OK on a dialog never loaded cannot wipe them.
    loadMemory2Form();
}

Dialog::~Dialog() = default;

QWidget* Dialog::buildSearchTab() {
    auto* page = new QWidget;
    auto* frame2 = frame("Frame2", QStringLiteral("検索対象フォルダ"), page);
    m_combo1 = new QComboBox(frame2);
    m_combo1->setObjectName(QStringLiteral("Combo1"));
    m_combo1->setEditable(true);
    // The history changes on OK only; Enter in the box must not add items of its own.
    m_combo1->setInsertPolicy(QComboBox::NoInsert);
    m_combo1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_combo1->setMinimumContentsLength(30);
    m_command1 = button(QStringLiteral("Command1"), QStringLiteral("変更(&D)"), frame2);
    m_check1 = checkBox(QStringLiteral("Check1"), QStringLiteral("サブフォルダも検索(&B)"), frame2);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_combo1, 1);
    folderRow->addWidget(m_command1);
    auto* frame2Layout = new QVBoxLayout(frame2);
    frame2Layout->addLayout(folderRow);
    frame2Layout->addWidget(m_check1);

    auto* frame1 = frame("Frame1", QStringLiteral("検索条件"), page);
    const std::array<QString, 3> check2Captions = {QStringLiteral("ファイル名/件名のみ検索(&N)"),
                                                   QStringLiteral("大/小,全/半の区別をする(&S)"),
                                                   QStringLiteral("正規表現(&R)")};
    auto* frame1Layout = new QVBoxLayout(frame1);
    for (std::size_t i = 0; i < m_check2.size(); ++i) {
        m_check2[i] =
            checkBox(indexedName("Check2", static_cast<int>(i)), check2Captions[i], frame1);
        frame1Layout->addWidget(m_check2[i]);
        // toggled, not clicked: setting a box from the settings counts as a change too.
        connect(m_check2[i], &QCheckBox::toggled, this, [this] { Check2_Click(); });
    }
    m_chkAllFiles = checkBox(QStringLiteral("chkAllFiles"),
                             QStringLiteral("隠しファイル・バイナリファイルも検索(&H)"), frame1);
    frame1Layout->addWidget(m_chkAllFiles);
    connect(m_command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    auto* frameCache = frame("FrameCache", QStringLiteral("キャッシュ"), page);
    m_chkTextCache =
        checkBox(QStringLiteral("chkTextCache"),
                 QStringLiteral("読み取った文書の本文を保存し、次の検索に使う(&U)"), frameCache);
    m_cmdClearCache = button(QStringLiteral("cmdClearCache"),
                             QStringLiteral("キャッシュを空にする(&Y)"), frameCache);
    m_lblCacheState = plainLabel(QStringLiteral("lblCacheState"), QString(), frameCache);
    connect(m_cmdClearCache, &QPushButton::clicked, this, [this] { cmdClearCache_Click(); });
    auto* clearRow = new QHBoxLayout;
    clearRow->addWidget(m_cmdClearCache);
    clearRow->addWidget(m_lblCacheState, 1);
    auto* frameCacheLayout = new QVBoxLayout(frameCache);
    frameCacheLayout->addWidget(m_chkTextCache);
    frameCacheLayout->addLayout(clearRow);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(frame2);
    layout->addWidget(frame1);
    layout->addWidget(frameCache);
    layout->addStretch(1);
    return page;
}

QWidget* Dialog::buildTextTab() {
    auto* page = new QWidget;
    QCheckBox* textBox = makeTypeBox(app::FileType::Text,
                                     QStringLiteral("テキスト形式ファイルの検索を行う(&T)"), page);

    m_frame4 =
        frame("Frame4", QStringLiteral("テキストファイルとして検索する拡張子の一覧："), page);
    m_newTagInput = lineEdit("newTagInput", m_frame4);
    m_command3 = button(QStringLiteral("Command3"), QStringLiteral("追加(&A)"), m_frame4);
    m_listTags = new QListWidget(m_frame4);
    m_listTags->setObjectName(QStringLiteral("listTags"));
    m_listTags->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listTags->setMaximumHeight(m_listTags->fontMetrics().height() * 6);
    m_command6 = button(QStringLiteral("Command6"), QStringLiteral("削除(&D)"), m_frame4);
    auto* frame4Layout = new QGridLayout(m_frame4);
    frame4Layout->addWidget(m_newTagInput, 0, 0);
    frame4Layout->addWidget(m_command3, 0, 1);
    frame4Layout->addWidget(m_listTags, 1, 0);
    frame4Layout->addWidget(m_command6, 1, 1, Qt::AlignTop);
    connect(m_command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(m_command6, &QPushButton::clicked, this, [this] { Command6_Click(); });

    m_frame3 = frame("Frame3", QStringLiteral("使用するテキストエディタ"), page);
    m_text2 = lineEdit("Text2", m_frame3);
    m_command2 = button(QStringLiteral("Command2_0"), QStringLiteral("選択(&E)"), m_frame3);
    connect(m_command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    const std::array<QString, kLabel9Count - 1> label9Texts = {
        QStringLiteral("下記のパラメータが使用できます"),
        QStringLiteral("%1：ファイル名"),
        QStringLiteral("%2：行"),
        QStringLiteral("%3：桁"),
        QStringLiteral("（例）　秀丸 の場合（推奨）"),
        QStringLiteral("C:\\Program Files\\Hidemaru\\Hidemaru.exe /j%2,%3 %1"),
        QStringLiteral("TeraPad の場合"),
        QStringLiteral("C:\\Program Files\\tpad085\\TeraPad.exe /jl=%2 \"%1\""),
        QStringLiteral("※エディタのパスは各自の環境に置き換えて記述してください。"),
        QStringLiteral("詳しい解説はこちら⇒")};
    for (std::size_t i = 0; i < label9Texts.size(); ++i)
        m_label9[i] =
            plainLabel(indexedName("Label9", static_cast<int>(i)), label9Texts[i], m_frame3);
    m_label9[5]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_label9[7]->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The help page ships with the program; the label shows where it lies and opens it.
    auto* link = new QLabel(m_frame3);
    link->setObjectName(QStringLiteral("Label9_10"));
    link->setTextFormat(Qt::RichText);
    link->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                      .arg(m_helpUrl.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                           m_helpUrl.toString(QUrl::PreferLocalFile).toHtmlEscaped()));
    // The click goes through Label9_Click, not straight to the desktop.
    link->setOpenExternalLinks(false);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setWordWrap(true);
    link->setCursor(Qt::PointingHandCursor);
    m_label9[10] = link;
    connect(link, &QLabel::linkActivated, this, [this] { Label9_Click(10); });

    const int indent = fontMetrics().horizontalAdvance(QStringLiteral("（例）"));
    auto* editorRow = new QHBoxLayout;
    editorRow->addWidget(m_text2, 1);
    editorRow->addWidget(m_command2);
    auto* placeholders = new QHBoxLayout;
    placeholders->addSpacing(indent);
    for (int i : {1, 2, 3})
        placeholders->addWidget(m_label9[static_cast<std::size_t>(i)]);
    placeholders->addStretch(1);
    auto* helpRow = new QHBoxLayout;
    helpRow->addWidget(m_label9[9]);
    helpRow->addWidget(m_label9[10], 1);
    auto* frame3Layout = new QVBoxLayout(m_frame3);
    frame3Layout->addLayout(editorRow);
    frame3Layout->addWidget(m_label9[0]);
    frame3Layout->addLayout(placeholders);
    frame3Layout->addWidget(m_label9[4]);
    frame3Layout->addLayout(indented(m_label9[5], indent));
    frame3Layout->addWidget(m_label9[6]);
    frame3Layout->addLayout(indented(m_label9[7], indent));
    frame3Layout->addWidget(m_label9[8]);
    frame3Layout->addLayout(helpRow);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(textBox);
    layout->addWidget(m_frame4);
    layout->addWidget(m_frame3);
    layout->addStretch(1);
    return page;
}

QWidget* Dialog::buildPdfTab() {
    auto* page = new QWidget;
    QCheckBox* pdfBox = makeTypeBox(
        app::FileType::Pdf, QStringLiteral("Adobe PDFファイル(*.pdf)の検索を行う(&P)"), page);

    m_frame8 = frame("Frame8", QStringLiteral("検索方式"), page);
    const std::array<QString, 2> optionCaptions = {QStringLiteral("内蔵の検索エンジンを使用(&G)"),
                                                   QStringLiteral("下記のフィルタを利用する(&F)")};
    for (std::size_t i = 0; i < m_option1.size(); ++i) {
        m_option1[i] = new QRadioButton(optionCaptions[i], m_frame8);
        m_option1[i]->setObjectName(indexedName("Option1", static_cast<int>(i)));
        // Fires for the button that became selected, also when the settings select it.
        connect(m_option1[i], &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                Option1_Click();
        });
    }
    m_label1[7] =
        plainLabel(indexedName("Label1", 7), QStringLiteral("フィルタのパス："), m_frame8);
    m_label1[8] =
        plainLabel(indexedName("Label1", 8),
                   QStringLiteral("フィルタのページ区切り文字列（正規表現）："), m_frame8);
    m_filterPathInput = lineEdit("filterPathInput", m_frame8);
    m_filterKugiriInput = lineEdit("filterKugiriInput", m_frame8);
    m_filterSelectButton =
        button(QStringLiteral("filterSelectButton"), QStringLiteral("選択(&K)"), m_frame8);
    connect(m_filterSelectButton, &QPushButton::clicked, this,
            [this] { filterSelectButton_Click(); });
    m_label1[4] = plainLabel(indexedName("Label1", 4),
                             QStringLiteral("下記のパラメータが使用できます"), m_frame8);
    m_label1[5] =
        plainLabel(indexedName("Label1", 5), QStringLiteral("%1：PDFファイル名"), m_frame8);
    m_label1[6] =
        plainLabel(indexedName("Label1", 6), QStringLiteral("%2：出力ファイル名"), m_frame8);

    const int indent = m_option1[1]->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                       m_option1[1]->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
    auto* filter = new QGridLayout;
    filter->setColumnMinimumWidth(0, indent);
    filter->addWidget(m_label1[7], 0, 1, 1, 2);
    filter->addWidget(m_filterPathInput, 1, 1);
    filter->addWidget(m_filterSelectButton, 1, 2);
    filter->addWidget(m_label1[8], 2, 1, 1, 2);
    filter->addWidget(m_filterKugiriInput, 3, 1);
    filter->addWidget(m_label1[4], 4, 1, 1, 2);
    auto* parameters = new QHBoxLayout;
    parameters->addSpacing(indent);
    parameters->addWidget(m_label1[5]);
    parameters->addWidget(m_label1[6]);
    parameters->addStretch(1);
    filter->addLayout(parameters, 5, 1, 1, 2);
    filter->setColumnStretch(1, 1);
    auto* frame8Layout = new QVBoxLayout(m_frame8);
    frame8Layout->addWidget(m_option1[0]);
    frame8Layout->addWidget(m_option1[1]);
    frame8Layout->addLayout(filter);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(pdfBox);
    layout->addWidget(m_frame8);
    layout->addStretch(1);
    return page;
}

QWidget* Dialog::buildOfficeTab() {
    using FT = app::FileType;
    auto* page = new QWidget;

    auto* frame7 = frame("Frame7", QStringLiteral("検索対象"), page);
    auto* frame7Layout = new QGridLayout(frame7);
    frame7Layout->addWidget(makeTypeBox(FT::Word, QStringLiteral("Word文書(*.doc)(&W)"), frame7), 0,
                            0);
    frame7Layout->addWidget(makeTypeBox(FT::Excel, QStringLiteral("Excel文書(*.xls)(&X)"), frame7),
                            0, 1);
    frame7Layout->addWidget(
        makeTypeBox(FT::PowerPoint, QStringLiteral("PowerPoint(*.ppt)(&P)"), frame7), 1, 0);
    frame7Layout->addWidget(
        makeTypeBox(FT::Access, QStringLiteral("AccessDB(*.mdb)の検索を行う(&M)"), frame7), 1, 1);

    auto* frame5 = frame("Frame5", QStringLiteral("Outlook"), page);
    auto* frame5Layout = new QHBoxLayout(frame5);
    frame5Layout->addWidget(makeTypeBox(FT::OutlookTask, QStringLiteral("仕事"), frame5));
    frame5Layout->addWidget(makeTypeBox(FT::OutlookMail, QStringLiteral("メール"), frame5));
    frame5Layout->addWidget(makeTypeBox(FT::OutlookCalendar, QStringLiteral("予定"), frame5));
    frame5Layout->addWidget(makeTypeBox(FT::OutlookContact, QStringLiteral("連絡先"), frame5));
    frame5Layout->addWidget(makeTypeBox(FT::OutlookNote, QStringLiteral("メモ"), frame5));
    frame5Layout->addStretch(1);
    auto* places =
        button(QStringLiteral("outlookPlacesButton"), QStringLiteral("場所(&L)"), frame5);
    connect(places, &QPushButton::clicked, this, [this] { outlookPlacesButton_Click(); });
    frame5Layout->addWidget(places);

    auto* frame6 = frame("Frame6", QStringLiteral("Outlook Express 5/6"), page);
    auto* frame6Layout = new QHBoxLayout(frame6);
    frame6Layout->addWidget(makeTypeBox(FT::OutlookExpressMail, QStringLiteral("メール"), frame6));
    frame6Layout->addWidget(
        makeTypeBox(FT::OutlookExpressContact, QStringLiteral("連絡先"), frame6));
    frame6Layout->addStretch(1);

    auto* frame9 = frame("Frame9", QStringLiteral("動作"), page);
    m_chkWordFast =
        checkBox(QStringLiteral("chkWordFast"),
                 QStringLiteral("Wordの検索でオートシェイプを検索対象とせず高速検索する"), frame9);
    m_chkOfficeNoJump = checkBox(
        QStringLiteral("chkOfficeNoJump"),
        QStringLiteral("検索結果一覧から文書を開いた時に検索語句へジャンプしない"), frame9);
    auto* frame9Layout = new QVBoxLayout(frame9);
    frame9Layout->addWidget(m_chkWordFast);
    frame9Layout->addWidget(m_chkOfficeNoJump);
    frame9Layout->addWidget(
        plainLabel(QStringLiteral("Label2"),
                   QStringLiteral("（※エラーが出る場合はチェックをはずして下さい）"), frame9));

    auto* outlookRow = new QHBoxLayout;
    outlookRow->addWidget(frame5, 1);
    outlookRow->addWidget(frame6);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(frame7);
    layout->addLayout(outlookRow);
    layout->addWidget(frame9);
    layout->addStretch(1);
    return page;
}

QCheckBox* Dialog::makeTypeBox(app::FileType type, const QString& caption, QWidget* parent) {
    const int index = static_cast<int>(type);
    QCheckBox* box = checkBox(indexedName("fType", index), caption, parent);
    m_fType[app::slotOf(type)] = box;
    connect(box, &QCheckBox::toggled, this, [this, index] { fType_Click(index); });
    return box;
}

void Dialog::loadMemory2Form() {
    m_combo1->clear();
    for (const std::string& folder : m_settings.dirList) {
        if (!folder.empty())
            m_combo1->addItem(toQString(folder));
    }
    m_combo1->setEditText(m_combo1->count() > 0 ? m_combo1->itemText(0) : QString());

    m_check1->setChecked(m_settings.subFolder);
    m_check2[0]->setChecked(m_settings.fileNameOnly);
    m_check2[1]->setChecked(m_settings.strict);
    m_check2[2]->setChecked(m_settings.regular);
    m_chkTextCache->setChecked(m_settings.textCache);
    m_chkAllFiles->setChecked(m_settings.hiddenFiles && m_settings.binaryFiles);
    m_lblCacheState->clear();

    for (std::size_t i = 0; i < m_fType.size(); ++i) {
        if (m_fType[i] != nullptr)
            m_fType[i]->setChecked(m_settings.fileTypes.targetFileType[i]);
    }

    m_listTags->clear();
    for (const QString& tag : toQString(m_settings.textTags).split(QLatin1Char(';'))) {
        if (!tag.isEmpty())
            m_listTags->addItem(tag);
    }

    m_text2->setText(toQString(m_settings.editor));
    enableTextSettings(m_fType[app::slotOf(app::FileType::Text)]->isChecked());

    m_option1[m_settings.pdfOwnEngine ? 0 : 1]->setChecked(true);
    m_filterPathInput->setText(toQString(m_settings.pdfFilterPath));
    m_filterKugiriInput->setText(toQString(m_settings.pdfFilterPause));
    enablePdfSettings(m_fType[app::slotOf(app::FileType::Pdf)]->isChecked());

    m_chkOfficeNoJump->setChecked(m_settings.noJump);
    m_chkWordFast->setChecked(m_settings.wordFast);
    m_outlookPlaces = m_settings.outlookPlaces;
}

void Dialog::saveForm2Memory() {
    m_settings.editor = m_text2->text().toStdString();
    m_settings.subFolder = m_check1->isChecked();
    m_settings.fileNameOnly = m_check2[0]->isChecked();
    m_settings.strict = m_check2[1]->isChecked();
    m_settings.regular = m_check2[2]->isChecked();
    m_settings.textCache = m_chkTextCache->isChecked();
    m_settings.hiddenFiles = m_settings.binaryFiles = m_chkAllFiles->isChecked();

    for (std::size_t i = 0; i < m_fType.size(); ++i) {
        if (m_fType[i] != nullptr)
            m_settings.fileTypes.targetFileType[i] = m_fType[i]->isChecked();
    }

    QStringList tags;
    for (int i = 0; i < m_listTags->count(); ++i)
        tags.push_back(m_listTags->item(i)->text());
    m_settings.textTags = tags.join(QLatin1Char(';')).toStdString();

    makeFolderCurrent(m_settings, m_combo1->currentText().toStdString());

    m_settings.pdfOwnEngine = m_option1[0]->isChecked();
    m_settings.pdfFilterPath = m_filterPathInput->text().toStdString();
    m_settings.pdfFilterPause = m_filterKugiriInput->text().toStdString();
    m_settings.noJump = m_chkOfficeNoJump->isChecked();
    m_settings.wordFast = m_chkWordFast->isChecked();
    m_settings.outlookPlaces = m_outlookPlaces;
}

void Dialog::outlookPlacesButton_Click() {
    OutlookPlacesDialog dialog(this);
    dialog.setPlaces(m_outlookPlaces);
    if (m_fileChooser || m_folderChooser) {
        dialog.setPlaceChooser([this](const QString& title, bool folder) {
            if (folder)
                return m_folderChooser ? m_folderChooser() : QString();
            return m_fileChooser ? m_fileChooser(title, QStringLiteral("全てのﾌｧｲﾙ(*)"))
                                 : QString();
        });
    }
    if (dialog.exec() == QDialog::Accepted)
        m_outlookPlaces = dialog.places();
}

void Dialog::enableTextSettings(bool flag) {
    for (QWidget* widget :
         std::initializer_list<QWidget*>{m_frame4, m_listTags, m_command6, m_newTagInput,
                                         m_command3, m_frame3, m_text2, m_command2})
        widget->setEnabled(flag);
    for (QLabel* label : m_label9)
        label->setEnabled(flag);
}

void Dialog::enablePdfSettings(bool flag) {
    m_option1[0]->setEnabled(flag);
    m_option1[1]->setEnabled(flag);
    m_frame8->setEnabled(flag);
    enableFilterSettings(flag);
}

void Dialog::enableFilterSettings(bool flag) {
    const bool enabled = flag && m_option1[1]->isChecked();
    m_filterPathInput->setEnabled(enabled);
    m_filterKugiriInput->setEnabled(enabled);
    m_filterSelectButton->setEnabled(enabled);
    for (int i = kLabel1First; i <= kLabel1Last; ++i)
        m_label1[static_cast<std::size_t>(i)]->setEnabled(enabled);
}

void Dialog::OKButton_Click() {
    saveForm2Memory();
    accept();
}

void Dialog::cancelButton_Click() {
    reject();
}

void Dialog::done(int result) {
    QDialog::done(result);
    // After hiding: changing the main window's flags re-creates its native window, which must
    // not happen under a dialog that is still shown over it.
    if (m_link.controlTopMost && m_link.topMostChecked)
        m_link.controlTopMost(m_link.topMostChecked());
}

void Dialog::showEvent(QShowEvent* event) {
    // Before the dialog is mapped, for the same reason as in done().
    Form_Activate();
    QDialog::showEvent(event);
}

void Dialog::Form_Activate() {
    if (m_link.isInTaskTray && m_link.isInTaskTray())
        return;
    // An always-on-top main window must not cover the dialog.
    if (m_link.controlTopMost)
        m_link.controlTopMost(false);
}

void Dialog::Check2_Click() {
    // Strict comparison cannot go with regular expressions; the box keeps its own tick.
    m_check2[1]->setEnabled(!m_check2[2]->isChecked());
}

void Dialog::Command1_Click() {
    const QString folder =
        m_folderChooser ? m_folderChooser() : QFileDialog::getExistingDirectory(this);
    if (!folder.isEmpty())
        m_combo1->setEditText(folder);
}

QString Dialog::chooseProgram(const QString& title) {
    if (m_fileChooser)
        return m_fileChooser(title, kProgramFilter);
    QFileDialog dialog(this, title, m_lastProgramPath, kProgramFilter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // As the common dialog was used: the file need not exist yet.
    dialog.setFileMode(QFileDialog::AnyFile);
    // Programs here rarely end in .exe: the chooser starts on all files, keeping the filter
    // list the user knows.
    dialog.selectNameFilter(m_lastProgramFilter.isEmpty() ? QStringLiteral("全てのﾌｧｲﾙ(*)")
                                                          : m_lastProgramFilter);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    m_lastProgramPath = dialog.selectedFiles().front();
    m_lastProgramFilter = dialog.selectedNameFilter();
    return m_lastProgramPath;
}

void Dialog::Command2_Click() {
    // The whole command line is replaced: parameters such as %1 are the user's to add.
    const QString path = chooseProgram(QStringLiteral("テキストエディタの選択"));
    if (!path.isEmpty())
        m_text2->setText(path);
}

void Dialog::filterSelectButton_Click() {
    const QString path = chooseProgram(QStringLiteral("PDFフィルタプログラムの選択"));
    if (!path.isEmpty())
        m_filterPathInput->setText(path);
}

void Dialog::Command3_Click() {
    const QString tag = normalizedTag(m_newTagInput->text());
    for (int i = 0; i < m_listTags->count(); ++i) {
        if (normalizedTag(m_listTags->item(i)->text()) == tag) {
            QMessageBox box(QMessageBox::Information, QStringLiteral("Ferretta"),
                            QStringLiteral("この拡張子は既に登録されています"), QMessageBox::Ok,
                            this);
            box.exec();
            return;
        }
    }
    // Nothing else is checked: an empty entry can be added (and is dropped when reloaded).
    m_listTags->addItem(tag);
    m_newTagInput->clear();
}

void Dialog::Command6_Click() {
    const QList<QListWidgetItem*> selected = m_listTags->selectedItems();
    if (selected.isEmpty())
        return;
    delete m_listTags->takeItem(m_listTags->row(selected.front()));
    // A removal selects nothing: a second press without a new choice removes nothing more.
    m_listTags->clearSelection();
    m_listTags->setCurrentItem(nullptr);
}

void Dialog::fType_Click(int index) {
    const auto type = static_cast<app::FileType>(index);
    if (type == app::FileType::Text)
        enableTextSettings(m_fType[app::slotOf(app::FileType::Text)]->isChecked());
    else if (type == app::FileType::Pdf)
        enablePdfSettings(m_fType[app::slotOf(app::FileType::Pdf)]->isChecked());
}

void Dialog::Option1_Click() {
    enableFilterSettings(true);
}

void Dialog::cmdClearCache_Click() {
    // Cancel does not bring back what was emptied: the press is the user's decision.
    m_lblCacheState->setText(run::clearDocumentCache()
                                 ? QStringLiteral("キャッシュを空にしました")
                                 : QStringLiteral("キャッシュを使用できません"));
}

void Dialog::Label9_Click(int index) {
    // Only the address label opens anything: the help page at the editor's parameters.
    if (index == kLabel9Count - 1)
        modes::showHelp(this, QStringLiteral("editor"));
}

}  // namespace ferretta::ui::options
