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

void CameraTree::showCameras(const std::vector<std::u16string>& names)
{
    clear();
    auto* root = new QTreeWidgetItem(QStringList(
        firstRecorder_.empty() ? QtText::lang(u"DEVICE") : QtText::from(firstRecorder_)));
    root->setIcon(0, images_[RecorderImage]);
    addTopLevelItem(root);
    for (size_t i = 0; i < names.size(); ++i)
        root->addChild(cameraItem(names[i], int(i)));
    root->setExpanded(true);
    fillOtherRecorders();
    // Enter shows a camera at once: the first one is highlighted.
    if (root->childCount() > 0)
        setCurrentItem(root->child(0));
}

void CameraTree::showFirstRecorder(const std::u16string& text)
{
    firstRecorder_ = text;
    if (QTreeWidgetItem* root = topLevelItem(0); root && !text.empty())
        root->setText(0, QtText::from(text));
}

void CameraTree::showRecorders(const std::vector<ViewerView::RecorderNode>& nodes)
{
    const bool sameCameras =
        nodes.size() == otherRecorders_.size() &&
        std::equal(nodes.begin(), nodes.end(), otherRecorders_.begin(),
                   [](const ViewerView::RecorderNode& a, const ViewerView::RecorderNode& b) {
                       return a.name == b.name && a.cameras == b.cameras;
                   });
    otherRecorders_ = nodes;
    if (!topLevelItem(0))
        return;   // no tree yet: it is filled with the first recorder's cameras
    if (!sameCameras || topLevelItemCount() != int(nodes.size()) + 1) {
        fillOtherRecorders();
        return;
    }
    // Only the states changed (a countdown): the entries stay, so does the selection.
    for (size_t i = 0; i < nodes.size(); ++i)
        topLevelItem(int(i) + 1)->setText(0, QtText::from(nodes[i].name + u" - " + nodes[i].state));
}

void CameraTree::fillOtherRecorders()
{
    while (topLevelItemCount() > 1)
        delete takeTopLevelItem(1);
    for (size_t i = 0; i < otherRecorders_.size(); ++i) {
        const ViewerView::RecorderNode& n = otherRecorders_[i];
        auto* node = new QTreeWidgetItem(QStringList(QtText::from(n.name + u" - " + n.state)));
        node->setIcon(0, images_[RecorderImage]);
        node->setData(0, kRecorderRole, int(i) + 1);
        addTopLevelItem(node);
        for (size_t c = 0; c < n.cameras.size(); ++c) {
            QTreeWidgetItem* item = cameraItem(n.cameras[c], int(c));
            item->setData(0, kRecorderRole, int(i) + 1);
            node->addChild(item);
        }
        node->setExpanded(true);
    }
}

QTreeWidgetItem* CameraTree::itemOfCamera(CameraId camera) const
{
    // The first recorder's node, then one node per further recorder, in list order.
    for (int n = 0; n < topLevelItemCount(); ++n) {
        QTreeWidgetItem* node = topLevelItem(n);
        const int recorder = n == 0 ? 0 : node->data(0, kRecorderRole).toInt();
        if (recorder != camera.recorder)
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
