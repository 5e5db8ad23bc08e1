#include "ui/options/options_placeholder.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

namespace ferretta::ui::options {

OptionsPlaceholder::OptionsPlaceholder(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(QStringLiteral("Ferrettaの設定"));
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addStretch();
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(400, 300);
}

void showOptionsPlaceholder(QWidget* parent) {
    OptionsPlaceholder dialog(parent);
    dialog.exec();
}

}  // namespace ferretta::ui::options
