// ferretta: the desktop window. Start-up runs in a fixed order (one instance, shared state,
// settings, menus, hot key, first form of the window, a folder from the command line); the
// way out is exitPoint alone, which writes the settings back.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QSocketNotifier>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/debug_log.h"
#include "app/settings.h"
#include "pdf/frontends/pdf_viewer.h"
#include "platform/data_folder.h"
#include "platform/ini_file.h"
#include "run/document_cache_use.h"
#include "run/run_safety.h"
#include "run/search_run.h"
#include "run/start_up.h"
#include "ui/main/japanese_font.h"
#include "ui/main/main_form.h"
#include "ui/main/qt_host.h"
#include "ui/main/twips.h"
#include "ui/modes/hot_key.h"
#include "ui/modes/single_instance.h"
#include "ui/modes/wnd_proc.h"

namespace {

using namespace ferretta;

// True when Qt has a display to open: an X server, a Wayland compositor, or a platform chosen
// by the user (offscreen, vnc ...). Without one QApplication would abort the process.
bool haveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

// A start that finds the program running on this display hands its command line over (when it
// has one), waits until the running window has dealt with it, and ends. The first start keeps
// the claimed name in `listener` for startSubClass.
bool handOffToRunningInstance(std::string_view commandLine, ui::modes::FileDescriptor& listener) {
    ui::modes::InstanceClaim claim = ui::modes::claimInstance(ui::modes::instanceName());
    if (!claim.runningInstance.valid()) {
        listener = std::move(claim.listener);
        return false;
    }
    if (!commandLine.empty())
        ui::modes::sendMessageMain(claim.runningInstance.get(), commandLine);
    return true;
}

// What start-up installs beside the window: the message hook, the hot key that feeds it and
// the server that feeds it the folders of later starts. Made after the window and gone before
// it and the application.
struct WindowHooks {
    std::unique_ptr<ui::modes::WndProc> wndProc;
    std::unique_ptr<ui::modes::HotKey> hotKey;
    std::unique_ptr<ui::modes::InstanceServer> server;
};

void initHotKeyModuleValues(WindowHooks& hooks) {
    hooks.hotKey = ui::modes::initHotKeyModuleValues(
        [&hooks] { (*hooks.wndProc)(ui::modes::WindowMessage::HotKey); });
}
void startSubClass(WindowHooks& hooks, ui::modes::FileDescriptor listener) {
    hooks.server = std::make_unique<ui::modes::InstanceServer>([&hooks](std::string_view payload) {
        (*hooks.wndProc)(ui::modes::WindowMessage::CopyData, payload);
    });
    // Without the claimed name (sockets unavailable) the window runs alone.
    hooks.server->listen(std::move(listener));
}
void endHotKey(WindowHooks& hooks) {
    if (hooks.hotKey)
        hooks.hotKey->releaseHotKey();
}
void endSubClass(WindowHooks& hooks) {
    if (hooks.server)
        hooks.server->close();
}

std::filesystem::path settingsPath() {
    return platform::dataFolder() / std::string(app::settingsFileName);
}

// The whole command line after the program name, as one text: a folder with blanks passed
// without quotes arrives whole.
std::string commandLineOf(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

// Writes the settings with the window's position, releases what start-up took, ends the loop.
// The window removes its tray icon and hides itself after this.
void exitPoint(ui::main::MainForm& form, const app::Settings& settings, WindowHooks& hooks) {
    endHotKey(hooks);
    endSubClass(hooks);
    const QPoint position = form.frameGeometry().topLeft();
    const auto problem = app::saveSettingsFile(
        settings, static_cast<float>(ui::main::pixelsToTwipsX(position.x(), &form)),
        static_cast<float>(ui::main::pixelsToTwipsY(position.y(), &form)), settingsPath());
    if (problem) {
        // Ended by a signal (a logout, a kill) nobody may be there to answer a box.
        if (run::stopSignalReceived()) {
            std::string line = *problem;
            std::replace(line.begin(), line.end(), '\r', ' ');
            std::fprintf(stderr, "ferretta: %s\n", line.c_str());
        } else {
            form.host().showMessage(*problem, app::MessageStyle::Exclamation);
        }
    }
    pdf::initPDFValues();
    app::debugLog().logClose();
    // Not quit(): that asks the windows first, and a window may not close while the state
    // machine is still in the cell that ends the program.
    QApplication::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (!haveDisplay()) {
        std::fputs(
            "ferretta: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window "
            "cannot open.\nSearch from the command line instead: ferretta-cli FOLDER QUERY\n",
            stderr);
        return 1;
    }
    // Before a search can start: what a killed run left is cleared away, and SIGINT,
    // SIGTERM, SIGHUP and SIGQUIT end the program the way the tray's exit does, after the
    // running search has unwound.
    const std::vector<std::string> restoreProblems = run::prepareRun();
    const std::string commandLine = commandLineOf(argc, argv);
    ui::modes::FileDescriptor instanceListener;
    if (handOffToRunningInstance(commandLine, instanceListener))
        return 0;

    QApplication application(argc, argv);
    ui::main::preferJapaneseFont();
    // The window stays alive minimized or hidden; only exitPoint ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslator);
    }

    // initValues: the window with an empty word box, the run flags, the PDF state, the start-up
    // file types (the settings structure starts with them).
    app::Settings settings;
    settings.editor = std::string(app::defaultEditor);
    ui::main::MainForm form(settings);
    pdf::initPDFValues();
    if (!run::loadCidTable(form.host()))
        return 1;

    // A first start copies the values a new user starts from into the data folder.
    if (!app::installDefaultSettings(
            settingsPath(), platform::findDataFile(std::string(app::defaultSettingsFileName)),
            platform::homeFolder().string())) {
        std::fprintf(stderr, "ferretta: the first settings could not be written to %s\n",
                     settingsPath().string().c_str());
    }
    std::error_code ec;
    if (std::filesystem::is_regular_file(settingsPath(), ec)) {
        app::loadConfigFile(platform::IniFile::load(settingsPath()), settings);
    } else {
        // No settings file yet: the same answers as reading an empty one.
        app::loadConfigFile(platform::IniFile(), settings);
    }
    form.applySettings();
    WindowHooks hooks;
    hooks.wndProc = std::make_unique<ui::modes::WndProc>(
        [&form] { form.stateMachine().matrixCall(ui::modes::EventHotKey); },
        [&form, &settings](std::string_view folder) {
            run::acceptFolderArgument(form.host(), settings, folder,
                                      [&form] { form.bringToFront(); });
        });
    form.setExitHandler([&form, &settings, &hooks] { exitPoint(form, settings, hooks); });

    std::unique_ptr<QSocketNotifier> stopSignal;
    if (run::stopSignalDescriptor() >= 0) {
        stopSignal =
            std::make_unique<QSocketNotifier>(run::stopSignalDescriptor(), QSocketNotifier::Read);
        QObject::connect(stopSignal.get(), &QSocketNotifier::activated, &form,
                         [&stopSignal, &form] {
                             stopSignal->setEnabled(false);
                             form.exitPoint();
                         });
    }

    initHotKeyModuleValues(hooks);
    startSubClass(hooks, std::move(instanceListener));
    form.stateMachine().matrixCall(ui::modes::EventStartUpDone);
    for (const std::string& problem : restoreProblems)
        form.host().showMessage(problem, app::MessageStyle::Exclamation);
    if (!commandLine.empty()) {
        run::acceptFolderArgument(form.host(), settings, commandLine,
                                  [&form] { form.bringToFront(); });
    }
    const int status = QApplication::exec();
    // What the last searches read is written to the document cache before the program ends.
    run::closeDocumentCache();
    return status;
}
