#include "ui/support/UiTestSupport.h"

#include "ui/MessageBoxes.h"
#include "ui/QtText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace kevra::test {

std::vector<RecordedBox>& boxes()
{
    static std::vector<RecordedBox> b;
    return b;
}

void installMessageRecorder()
{
    MessageBoxes::setHandler(
        [](QWidget*, const QString& text, const QString& caption, MessageBoxes::Icon icon) {
            boxes().push_back({text, caption, int(icon)});
        });
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qWait(2);
    }
    return true;
}

QWidget* keyTarget(QWidget* window)
{
    return window->focusWidget() ? window->focusWidget() : window;
}

void pump(int ms)
{
    QTest::qWait(ms);
}

std::string makeTempDir()
{
    char tmpl[] = "/tmp/kevra-ui-XXXXXX";
    char* d = mkdtemp(tmpl);
    return d ? std::string(d) + "/" : std::string("/tmp/");
}

QString lang(const char16_t* key)
{
    return QtText::lang(key);
}

}   // namespace kevra::test
