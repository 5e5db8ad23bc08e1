#pragma once
// What the window's offscreen tests share: one application object per test program, and a
// watcher that answers the modal windows a step opens.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <utility>
#include <vector>

// Fontconfig's cache lives until the process ends: not our leak. Each test program includes this
// header from its one source file.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace ferretta::test {

// Makes the test program's QApplication on the offscreen platform, once; later calls do
// nothing. Call it before the first widget.
inline void ensureOffscreenApplication() {
    if (QApplication::instance() != nullptr)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ferretta_qt_test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives for the whole test program
}

// While it lives, looks for a modal window every 5 ms. A message box is recorded and answered
// with `answer` (its first button when it has no such one); any other modal window is recorded
// by object name and handed to `act`, or closed when there is no `act`.
class ModalWatcher {
  public:
    explicit ModalWatcher(QMessageBox::StandardButton answer = QMessageBox::Ok,
                          std::function<void(QWidget*)> act = {})
        : m_answer(answer), m_act(std::move(act)) {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr)
                return;
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                texts.push_back(box->text());
                titles.push_back(box->windowTitle());
                icons.push_back(box->icon());
                QAbstractButton* button = box->button(m_answer);
                if (button == nullptr)
                    button = box->buttons().value(0);
                button->click();
                return;
            }
            dialogs.push_back(modal->objectName());
            if (m_act)
                m_act(modal);
            else
                modal->close();
        });
        m_timer.start();
    }
    explicit ModalWatcher(std::function<void(QWidget*)> act)
        : ModalWatcher(QMessageBox::Ok, std::move(act)) {}

    std::vector<QString> texts;
    std::vector<QString> titles;
    std::vector<QMessageBox::Icon> icons;
    std::vector<QString> dialogs;  // the other modal windows, by object name

  private:
    QMessageBox::StandardButton m_answer;
    std::function<void(QWidget*)> m_act;
    QTimer m_timer;
};

}  // namespace ferretta::test
