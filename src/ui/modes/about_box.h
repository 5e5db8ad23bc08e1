#pragma once
// frmAbout: the program's name and version, two links to the help page, and the program icon,
// which is also the switch that starts and stops the debug log.
#include <QDialog>
#include <QString>
#include <QUrl>

class QLabel;
class QPushButton;
class QToolButton;

namespace ferretta::ui::modes {

// The version the build was made from (the project version), without the "ver." prefix.
QString programVersion();

// The local help page: help/index.html beside the program or in its share folder. When
// neither exists the answer names the place beside the program (the help window says so).
QUrl helpPageUrl();

class AboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit AboutBox(QWidget* parent = nullptr);

    // Show the help page (the second link at its contact section) in the program's own help
    // window; a missing page is reported there.
    void Label3_Click();
    void Label5_Click();
    // The debug-log switch: closes an open log, else opens it, and tells the user which happened
    // in a plain modal message box; a log that cannot be opened stays closed.
    void picIcon_Click();
    void cmdOK_Click();

    QLabel* versionLabel() const { return m_lblVersion; }
    QLabel* homePageLabel() const { return m_label3; }
    QToolButton* iconButton() const { return m_picIcon; }
    QPushButton* okButton() const { return m_cmdOK; }

  private:
    void showPlainMessage(const QString& text);

    QLabel* m_lblTitle = nullptr;
    QLabel* m_lblVersion = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label5 = nullptr;
    QToolButton* m_picIcon = nullptr;
    QPushButton* m_cmdOK = nullptr;
};

// Shows the box modally over the parent and returns when it is closed.
void showAboutBox(QWidget* parent);

}  // namespace ferretta::ui::modes
