// The viewer: start-up values, then the main window run modally for the whole run.
#include "app/AppValues.h"
#include "device/DeviceClient.h"
#include "ui/MainWindow.h"

#include <QApplication>

#include <csignal>

int main(int argc, char** argv)
{
    // A recorder closing its end must not end the program on the next send.
    std::signal(SIGPIPE, SIG_IGN);
    kevra::DeviceClient& client = kevra::DeviceClient::instance();   // network thread runs from here
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(kevra_images);
    kevra::AppValues::initialise();
    {
        kevra::MainWindow window(client);
        window.exec();   // the modal result is ignored
    }
    return 0;
}
