// The main window's camera tree: a node per recorder (the first recorder's cameras from its
// login, the further recorders' as the coordinator lists them), an entry per camera marked while
// it is shown. A click on a camera, or Enter on the highlighted one, asks for it
// (onCameraChosen); the tree's menu (right click or a long press) asks for the recorder list
// (onRecorderList). Owned by the main window; user-interface thread only.
#pragma once
#include "app/CameraId.h"
#include "app/ViewerView.h"

#include <QIcon>
#include <QTreeWidget>

#include <functional>
#include <string>
#include <vector>

namespace kevra {

class CameraTree : public QTreeWidget {
public:
    // The camera entries carry their channel under this role.
    static constexpr int kChannelRole = Qt::UserRole;
    // The further recorders' entries (and their cameras) carry the recorder's place in
    // login.ini's list.
    static constexpr int kRecorderRole = Qt::UserRole + 1;

    explicit CameraTree(QWidget* parent);

    // The first recorder's node with these cameras, then the further recorders' nodes.
    void showCameras(const std::vector<std::u16string>& names);
    // The first recorder's node text (kept for the next showCameras).
    void showFirstRecorder(const std::u16string& text);
    void showRecorders(const std::vector<ViewerView::RecorderNode>& nodes);
    void setCameraShown(CameraId camera, bool shown);
    // Asks for the highlighted camera; nothing when a recorder's node is highlighted.
    void openHighlighted();

    std::function<void(CameraId)> onCameraChosen;
    std::function<void()> onRecorderList;

private:
    void choose(QTreeWidgetItem* item);
    // The entries after the first recorder's: the further recorders and their cameras.
    void fillOtherRecorders();
    QTreeWidgetItem* itemOfCamera(CameraId camera) const;
    QTreeWidgetItem* cameraItem(const std::u16string& name, int channel) const;

    QIcon images_[3];                                        // recorder, open camera, idle camera
    std::vector<ViewerView::RecorderNode> otherRecorders_;   // as the coordinator last told them
    std::u16string firstRecorder_;                           // the first recorder's node text
};

}   // namespace kevra
