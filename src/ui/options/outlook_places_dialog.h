#pragma once
// Where the mail program's five kinds of items are read: for each of 仕事, メール, 予定, 連絡先
// and メモ a file or folder, or 自動 (the desktop's own store). Opened from the Outlook frame
// of the options dialog; what it edits goes to the settings with the options dialog's OK.
#include <QDialog>
#include <QString>
#include <array>
#include <functional>
#include <string>

class QLineEdit;
class QPushButton;

namespace ferretta::ui::options {

class OutlookPlacesDialog : public QDialog {
    Q_OBJECT
  public:
    // Asks for a file (folder false) or a folder; the answer is empty when the user cancels.
    using PlaceChooser = std::function<QString(const QString& title, bool folder)>;

    explicit OutlookPlacesDialog(QWidget* parent = nullptr);

    // The places in the settings' order (tasks, inbox, calendar, contacts, notes); an empty
    // place shows as 自動.
    void setPlaces(const std::array<std::string, 5>& places);
    // What the rows hold; a row left empty or holding 自動 gives an empty place.
    std::array<std::string, 5> places() const;

    // Replaces the desktop's file dialogs (tests); an empty function restores them.
    void setPlaceChooser(PlaceChooser chooser) { m_chooser = std::move(chooser); }

  private:
    void choose(std::size_t row, bool folder);

    std::array<QLineEdit*, 5> m_edits{};
    PlaceChooser m_chooser;
};

}  // namespace ferretta::ui::options
