// Helpers of the viewer tests: recorded message boxes, waiting with the event loop running,
// temporary folders. Test thread (the user-interface thread) only.
#pragma once
#include <QString>

class QWidget;

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kevra::test {

struct RecordedBox {
    QString text;
    QString caption;
    int icon;
};

void installMessageRecorder();
std::vector<RecordedBox>& boxes();

// Processes events until pred() holds or the time runs out (generous; not a speed check).
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 20000);
// Where the platform delivers a key typed into window: its focus widget, else the window
// itself (whether or not the window is active).
QWidget* keyTarget(QWidget* window);
// Processes events for a while.
void pump(int ms);

// A fresh empty folder under the system's temporary folder (removed at exit of the test).
std::string makeTempDir();
// Text of a language key as the viewer shows it.
QString lang(const char16_t* key);

}   // namespace kevra::test
