#include "ui/options/outlook_places_dialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ferretta::ui::options {

namespace {

const QString kAutomatic = QStringLiteral("自動");

struct Row {
    const char* name;     // object names: placeEdit_<name>, placeFile_<name>, placeFolder_<name>
    const char* caption;  // the row's label, with its mnemonic
    const char* title;    // the choosers' title
};

// In the settings' order: types 4..8.
constexpr Row kRows[] = {
    {"Tasks", "仕事(&T)", "仕事の場所の選択"},    {"Inbox", "メール(&M)", "メールの場所の選択"},
    {"Calendar", "予定(&S)", "予定の場所の選択"}, {"Contacts", "連絡先(&R)", "連絡先の場所の選択"},
    {"Notes", "メモ(&E)", "メモの場所の選択"},
};

QString rowObjectName(const char* stem, const Row& row) {
    return QString::fromLatin1(stem) + QLatin1Char('_') + QString::fromLatin1(row.name);
}

QPushButton* smallButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

OutlookPlacesDialog::OutlookPlacesDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("OutlookPlacesDialog"));
    setWindowTitle(QStringLiteral("Outlook項目の場所"));
    auto* grid = new QGridLayout;
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        const Row& row = kRows[i];
        auto* label = new QLabel(QString::fromUtf8(row.caption), this);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(rowObjectName("placeEdit", row));
        edit->setPlaceholderText(kAutomatic);
        edit->setMinimumWidth(320);
        label->setBuddy(edit);
        m_edits[i] = edit;
        auto* file = smallButton(rowObjectName("placeFile", row), QStringLiteral("ﾌｧｲﾙ..."), this);
        auto* folder =
            smallButton(rowObjectName("placeFolder", row), QStringLiteral("ﾌｫﾙﾀﾞ..."), this);
        connect(file, &QPushButton::clicked, this, [this, i] { choose(i, false); });
        connect(folder, &QPushButton::clicked, this, [this, i] { choose(i, true); });
        const int r = static_cast<int>(i);
        grid->addWidget(label, r, 0);
        grid->addWidget(edit, r, 1);
        grid->addWidget(file, r, 2);
        grid->addWidget(folder, r, 3);
    }
    auto* note = new QLabel(
        QStringLiteral("空欄（自動）の場合、仕事・予定・連絡先・メモはEvolution Data Serverから、"
                       "メールはEvolutionまたはThunderbirdの受信箱から検索します。"),
        this);
    note->setObjectName(QStringLiteral("placeNote"));
    note->setWordWrap(true);

    auto* ok = new QPushButton(QStringLiteral("OK(&O)"), this);
    ok->setObjectName(QStringLiteral("placesOk"));
    ok->setDefault(true);
    auto* cancel =
        smallButton(QStringLiteral("placesCancel"), QStringLiteral("キャンセル(&C)"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(note);
    layout->addLayout(buttons);
}

void OutlookPlacesDialog::setPlaces(const std::array<std::string, 5>& places) {
    for (std::size_t i = 0; i < places.size(); ++i)
        m_edits[i]->setText(QString::fromStdString(places[i]));
}

std::array<std::string, 5> OutlookPlacesDialog::places() const {
    std::array<std::string, 5> out;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const QString text = m_edits[i]->text().trimmed();
        out[i] = text == kAutomatic ? std::string() : text.toStdString();
    }
    return out;
}

void OutlookPlacesDialog::choose(std::size_t row, bool folder) {
    const QString title = QString::fromUtf8(kRows[row].title);
    QString chosen;
    if (m_chooser) {
        chosen = m_chooser(title, folder);
    } else {
        const QString start = m_edits[row]->text().trimmed();
        chosen = folder ? QFileDialog::getExistingDirectory(this, title, start)
                        : QFileDialog::getOpenFileName(this, title, start);
    }
    if (!chosen.isEmpty())
        m_edits[row]->setText(chosen);
}

}  // namespace ferretta::ui::options
