// The viewer: start-up values, then the main window run modally for the whole run (its
// coordinator owns the recorders' sessions). Everything with a thread is stopped here, in order, before main returns; SIGTERM,
// SIGINT and SIGHUP take the same way out as Exit.
#include "app/AppValues.h"
#include "app/ViewerCommandLine.h"
#include "app/ViewerLog.h"
#include "profile/Language.h"
#include "profile/LoginSettings.h"
#include "profile/ViewerSettings.h"
#include "ui/MainWindow.h"
#include "ui/QuitSignals.h"
#include "video/CodecLog.h"
#include "XDisplay.h"
#ifdef KEVRA_SCRIPTED_RUN
#include "ScriptedRun.h"
#endif

#include <QApplication>
#include <QMessageBox>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// Exit, as the button does; a message box waiting in its own loop is closed too, so that the
// window's loop is the one that ends.
void endOnSignal(kevra::MainWindow& window, int signo)
{
    const char* name = sigabbrev_np(signo);
    kevra::ViewerLog::event(std::string("ending on signal SIG") + (name ? name : "?"));
    window.reject();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            box->done(QMessageBox::Ok);
}

}   // namespace

int main(int argc, char** argv)
{
    const kevra::ViewerCommandLine options = kevra::ViewerCommandLine::parse(argc, argv);
    if (options.action == kevra::ViewerCommandLine::Action::Error) {
        kevra::AppValues::initialise();
        std::fprintf(stderr, "kevra: %s\n%s", options.error.c_str(),
                     kevra::ViewerCommandLine::helpText().c_str());
        return 2;
    }
    if (options.action != kevra::ViewerCommandLine::Action::Run) {
        kevra::AppValues::initialise();
        std::fputs(options.action == kevra::ViewerCommandLine::Action::Help
                       ? kevra::ViewerCommandLine::helpText().c_str()
                       : kevra::ViewerCommandLine::versionText().c_str(),
                   stdout);
        return 0;
    }
    // Qt aborts when it finds no display: say so plainly instead.
    const char* platformVariable = std::getenv("QT_QPA_PLATFORM");
    const std::string platform =
        options.platform.empty() && platformVariable ? platformVariable : options.platform;
    const char* display =
        options.display.empty() ? std::getenv("DISPLAY") : options.display.c_str();
    if (!kevra::ViewerCommandLine::displayAvailable(platform, display,
                                                    std::getenv("WAYLAND_DISPLAY"))) {
        std::fputs("kevra: no display (set DISPLAY or WAYLAND_DISPLAY, or run with "
                   "QT_QPA_PLATFORM=offscreen)\n",
                   stderr);
        return 1;
    }
    const std::string xDisplay = kevra::XDisplay::toCheck(platform, options.display, display,
                                                          std::getenv("WAYLAND_DISPLAY"));
    std::optional<kevra::XDisplay::Held> xCheck;
    if (!xDisplay.empty()) {
        xCheck.emplace(xDisplay);
        if (!xCheck->ok()) {
            std::fprintf(stderr, "kevra: cannot open display %s\n", xDisplay.c_str());
            return 1;
        }
    }
    // A recorder closing its end must not end the program on the next send.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    xCheck.reset();   // Qt's own connection now keeps the server from resetting
    kevra::ViewerLog::setVerbose(options.verbose);
    // The decoder's own messages (damaged frames and the like) are detail of the viewer's log.
    kevra::CodecLog::install([](const std::string& line) { kevra::ViewerLog::detail(line); });
    kevra::MainWindow* shown = nullptr;
    // Lives until main returns: a signal during the shutdown below changes nothing.
    kevra::QuitSignals quit([&shown](int signo) {
        if (shown)
            endOnSignal(*shown, signo);
    });
    Q_INIT_RESOURCE(kevra_images);
    kevra::AppValues::initialise();
    // A language chosen in Settings replaces the locale's, before any other thread reads texts.
    const std::u16string language =
        kevra::ViewerSettings::load(
            kevra::LoginSettings::pathIn(kevra::AppValues::settingsFolder()))
            .language;
    if (!language.empty())
        kevra::Language::setFilePath(kevra::AppValues::applicationDirectory() + u"language_" +
                                     language + u".ini");
    {
        kevra::MainWindow window;
        shown = &window;
#ifdef KEVRA_SCRIPTED_RUN
        kevra::ScriptedRun::fromEnvironment(window);   // kevra-scripted only; owned by the window
#endif
        window.exec();   // the modal result is ignored
        shown = nullptr;
        // Frame timer cancelled, channel stopped, decoder thread joined.
        window.stopShow();
    }   // the sessions end with the window: network threads joined, connections closed
    return 0;
}
