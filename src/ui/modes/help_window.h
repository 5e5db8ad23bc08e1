#pragma once
// The help page in a window of the program's own, so that it opens without a web browser; the
// page's links to the outside go to the desktop's browser, and a browser that cannot be started
// is reported with what to install.
#include <QDialog>
#include <QString>
#include <QUrl>

class QTextBrowser;

namespace ferretta::ui::modes {

class HelpWindow : public QDialog {
    Q_OBJECT
  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows the help page at the section (the page's anchor, empty for its top). Answers false,
    // after telling the user, when the page is missing.
    bool showSection(const QString& section = {});
    QTextBrowser* browser() const { return m_browser; }

  private:
    void followLink(const QUrl& url);

    QTextBrowser* m_browser = nullptr;
};

// The program's one help window, made at the first call as a child of `parent` and brought to
// the front at the section on every call.
void showHelp(QWidget* parent, const QString& section = {});

// Opens an address outside the program with the desktop's opener (xdg-open). When the opener
// is missing, or ends saying that nothing could open the address (within the next half minute),
// the user is told what to install. Returns at once.
void openOutside(QWidget* parent, const QUrl& url);

}  // namespace ferretta::ui::modes
