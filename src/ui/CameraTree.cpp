#include "ui/CameraTree.h"

#include "ui/QtText.h"

#include <QMenu>

#include <algorithm>

namespace kevra {

namespace {
enum Image { RecorderImage, OpenImage, IdleImage };
}   // namespace

CameraTree::CameraTree(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setIconSize(QSize(16, 16));
    // A camera dragged from the tree may be dropped on a wall's tile (WallWindow).
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    images_[RecorderImage] = QIcon(QStringLiteral(":/icons/147"));
    images_[OpenImage] = QIcon(QStringLiteral(":/icons/148"));
    images_[IdleImage] = QIcon(QStringLiteral(":/icons/146"));
    connect(this, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { choose(item); });
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        QAction* list = menu.addAction(QtText::lang(u"NVR_LIST") + QStringLiteral("..."));
        if (menu.exec(viewport()->mapToGlobal(at)) == list && onRecorderList)
            onRecorderList();
    });
}

void CameraTree::choose(QTreeWidgetItem* item)
{
    if (!item || !item->parent() || !onCameraChosen)
        return;   // nothing hit, or a recorder's entry
    onCameraChosen(
        CameraId{item->data(0, kRecorderRole).toInt(), item->data(0, kChannelRole).toInt()});
}

void CameraTree::openHighlighted()
{
    choose(currentItem());
}

QTreeWidgetItem* CameraTree::cameraItem(const std::u16string& name, int channel) const
{
    auto* item = new QTreeWidgetItem(QStringList(QtText::from(name)));
    item->setIcon(0, images_[IdleImage]);
    item->setData(0, kChannelRole, channel);
    return item;
}

QString CameraTree::nodeText(const ViewerView::RecorderNode& n)
{
    if (n.state.empty())
        return n.name.empty() ? QtText::lang(u"DEVICE") : QtText::from(n.name);
    return QtText::from(n.name + u" - " + n.state);
}

void CameraTree::showRecorders(const std::vector<ViewerView::RecorderNode>& nodes)
{
    const bool sameEntries =
        nodes.size() == recorders_.size() &&
        std::equal(nodes.begin(), nodes.end(), recorders_.begin(),
                   [](const ViewerView::RecorderNode& a, const ViewerView::RecorderNode& b) {
                       return a.name == b.name && a.cameras == b.cameras;
                   });
    recorders_ = nodes;
    if (!sameEntries || topLevelItemCount() != int(nodes.size())) {
        fill();
        return;
    }
    // Only the states changed (a countdown): the entries stay, so does the highlight.
    for (size_t i = 0; i < nodes.size(); ++i)
        topLevelItem(int(i))->setText(0, nodeText(nodes[i]));
}

void CameraTree::fill()
{
    const QTreeWidgetItem* was = currentItem();
    const bool hadCamera = was && was->parent();
    const CameraId highlighted{hadCamera ? was->data(0, kRecorderRole).toInt() : 0,
                               hadCamera ? was->data(0, kChannelRole).toInt() : 0};
    clear();
    for (size_t i = 0; i < recorders_.size(); ++i) {
        const ViewerView::RecorderNode& n = recorders_[i];
        auto* node = new QTreeWidgetItem(QStringList(nodeText(n)));
        node->setIcon(0, images_[RecorderImage]);
        node->setData(0, kRecorderRole, int(i));
        addTopLevelItem(node);
        for (size_t c = 0; c < n.cameras.size(); ++c) {
            QTreeWidgetItem* item = cameraItem(n.cameras[c], int(c));
            item->setData(0, kRecorderRole, int(i));
            node->addChild(item);
        }
        node->setExpanded(true);
    }
    // Enter shows a camera at once: the one highlighted before, else the first one.
    if (QTreeWidgetItem* again = hadCamera ? itemOfCamera(highlighted) : nullptr)
        setCurrentItem(again);
    else if (topLevelItemCount() > 0 && topLevelItem(0)->childCount() > 0)
        setCurrentItem(topLevelItem(0)->child(0));
}

QTreeWidgetItem* CameraTree::itemOfCamera(CameraId camera) const
{
    for (int n = 0; n < topLevelItemCount(); ++n) {
        QTreeWidgetItem* node = topLevelItem(n);
        if (node->data(0, kRecorderRole).toInt() != camera.recorder)
            continue;
        for (int j = 0; j < node->childCount(); ++j)
            if (node->child(j)->data(0, kChannelRole).toInt() == camera.channel)
                return node->child(j);
    }
    return nullptr;
}

void CameraTree::setCameraShown(CameraId camera, bool shown)
{
    if (QTreeWidgetItem* it = itemOfCamera(camera))
        it->setIcon(0, images_[shown ? OpenImage : IdleImage]);
}

}   // namespace kevra
