// Runs the viewer tests inside one QApplication on the offscreen platform, with the English
// language file beside the built executables, message boxes recorded instead of shown, and a
// settings folder of this run's own (a dialog left at its default never writes to the home).
#include "profile/Language.h"
#include "common/Utf.h"
#include "ui/support/UiTestSupport.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QTemporaryDir settings;
    setenv("XDG_CONFIG_HOME", settings.path().toUtf8().constData(), 1);
    Q_INIT_RESOURCE(kevra_images);
    kevra::Language::setFilePath(kevra::fromUtf8(std::string(KEVRA_BIN_DIR) + "/language_eng.ini"));
    kevra::test::installMessageRecorder();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
