#include "ui/PictureMenu.h"

#include "app/Viewer.h"
#include "ui/MainWindow.h"
#include "ui/QtText.h"

#include <QMenu>

namespace kevra {

void PictureMenu::exec(MainWindow& window, const QPoint& globalPos)
{
    Viewer& viewer = window.viewer();
    QMenu menu(&window);
    menu.addAction(QtText::lang(u"SAVE_PIC"), &window, [&window] { window.savePicture(); });
    menu.addAction(QtText::lang(viewer.recordingShown() ? u"REC_END" : u"REC_START"), &window,
                   [&viewer] { viewer.toggleRecording(); });
    QAction* stats =
        menu.addAction(QtText::lang(u"STATS"), &window, [&viewer] { viewer.toggleStats(); });
    stats->setCheckable(true);
    stats->setChecked(viewer.statsShown());
    QAction* low = menu.addAction(QtText::lang(u"LOW_LAT"), &window,
                                  [&viewer] { viewer.setLowLatency(!viewer.lowLatency(), true); });
    low->setCheckable(true);
    low->setChecked(viewer.lowLatency());
    menu.addAction(QtText::lang(u"SET_TITLE_T"), &window, [&window] { window.openSettings(); });
    menu.exec(globalPos);
}

}   // namespace kevra
