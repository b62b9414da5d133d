// The viewer: start-up values, the device client, then the main window run modally for the
// whole run. Everything with a thread is stopped here, in order, before main returns.
#include "app/AppValues.h"
#include "app/ViewerLog.h"
#include "device/DeviceClient.h"
#include "ui/MainWindow.h"
#include "ui/ScriptedRun.h"
#include "video/CodecLog.h"

#include <QApplication>

#include <csignal>
#include <cstring>

int main(int argc, char** argv)
{
    // A recorder closing its end must not end the program on the next send.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    // --verbose: every status change and detail goes to standard error, not only the events.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--verbose") == 0)
            kevra::ViewerLog::setVerbose(true);
    // The decoder's own messages (damaged frames and the like) are detail of the viewer's log.
    kevra::CodecLog::install([](const std::string& line) { kevra::ViewerLog::detail(line); });
    Q_INIT_RESOURCE(kevra_images);
    kevra::AppValues::initialise();
    kevra::DeviceClient client;   // network thread runs from here
    {
        kevra::MainWindow window(client);
        kevra::ScriptedRun::fromEnvironment(window);   // test runs only; owned by the window
        window.exec();                                 // the modal result is ignored
        // Frame timer cancelled, channel stopped, decoder thread joined.
        window.stopShow();
        client.setSink(nullptr);
    }
    client.shutdown();   // network thread joined, connections closed
    return 0;
}
