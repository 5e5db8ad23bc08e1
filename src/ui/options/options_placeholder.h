#pragma once
// Stands in for the Options dialog until it is built: an empty modal dialog with its title,
// so that every entry that opens the options already leads somewhere.
#include <QDialog>

namespace ferretta::ui::options {

class OptionsPlaceholder : public QDialog {
    Q_OBJECT
  public:
    explicit OptionsPlaceholder(QWidget* parent = nullptr);
};

// Shows the placeholder modally and returns when the user closes it.
void showOptionsPlaceholder(QWidget* parent);

}  // namespace ferretta::ui::options
