// The main window's camera tree: a node per recorder in login.ini's order (the login dialog's
// first), each with its name, its state and an entry per camera, marked while it is shown. A click on a camera, or Enter on the highlighted one, asks for it
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
    // Every node and camera entry carries its recorder's place in login.ini's list.
    static constexpr int kRecorderRole = Qt::UserRole + 1;

    explicit CameraTree(QWidget* parent);

    // The recorders as the coordinator lists them (none: an empty tree). Only the states
    // changed: the entries, their marks and the highlight stay.
    void showRecorders(const std::vector<ViewerView::RecorderNode>& nodes);
    void setCameraShown(CameraId camera, bool shown);
    // Asks for the highlighted camera; nothing when a recorder's node is highlighted.
    void openHighlighted();

    std::function<void(CameraId)> onCameraChosen;
    std::function<void()> onRecorderList;

private:
    void choose(QTreeWidgetItem* item);
    // Every entry again from recorders_; the highlighted camera stays highlighted.
    void fill();
    static QString nodeText(const ViewerView::RecorderNode& node);
    QTreeWidgetItem* itemOfCamera(CameraId camera) const;
    QTreeWidgetItem* cameraItem(const std::u16string& name, int channel) const;

    QIcon images_[3];                                   // recorder, open camera, idle camera
    std::vector<ViewerView::RecorderNode> recorders_;   // as the coordinator last told them
};

}   // namespace kevra
