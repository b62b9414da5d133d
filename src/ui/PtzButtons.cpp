#include "ui/PtzButtons.h"

#include "app/PtzPanel.h"
#include "ui/BitmapButton.h"
#include "ui/QtText.h"

namespace kevra {

PtzButtons::PtzButtons(QWidget* parent, const std::array<int, 6>& ids,
                       std::function<void(int id)> command, std::function<void(PtzCode)> send)
    : send_(std::move(send))
{
    for (size_t i = 0; i < buttons_.size(); ++i) {
        auto* b = new BitmapButton(ids[i], parent);
        QObject::connect(b, &QPushButton::clicked, b, [command, id = ids[i]] { command(id); });
        buttons_[i] = b;
    }
    for (Part p : {DirectionLabel, LensLabel}) {
        buttons_[p]->setText(QtText::lang(p == DirectionLabel ? PtzPanel::directionLabelKey(0)
                                                              : PtzPanel::lensLabelKey(0)));
        buttons_[p]->setCaptionColour(QColor(255, 255, 255));
    }
}

bool PtzButtons::command(int id)
{
    size_t part = 0;
    while (part < buttons_.size() && buttons_[part]->commandId() != id)
        ++part;
    switch (part) {
    case DirectionLeft:
    case DirectionRight:
        send_(PtzPanel::directionCode(part == DirectionLeft, directionMode_));
        return true;
    case LensLeft:
    case LensRight: send_(PtzPanel::lensCode(part == LensLeft, lensMode_)); return true;
    case DirectionLabel:
        directionMode_ = PtzPanel::nextDirectionMode(directionMode_);
        buttons_[part]->setText(QtText::lang(PtzPanel::directionLabelKey(directionMode_)));
        return true;
    case LensLabel:
        lensMode_ = PtzPanel::nextLensMode(lensMode_);
        buttons_[part]->setText(QtText::lang(PtzPanel::lensLabelKey(lensMode_)));
        return true;
    default: return false;
    }
}

void PtzButtons::place(const MainLayout::Result& r)
{
    const Rect* rects[6] = {&r.directionLeft, &r.directionRight, &r.lensLeft,
                            &r.lensRight,     &r.directionLabel, &r.lensLabel};
    // Normal and pressed bitmaps of each part.
    const int images[6][2] = {{144, 139}, {143, 140}, {145, 138},
                              {142, 137}, {136, 141}, {136, 141}};
    for (size_t i = 0; i < buttons_.size(); ++i) {
        const Rect& rc = *rects[i];
        buttons_[i]->setGeometry(rc.left, rc.top, rc.width(), rc.height());
        buttons_[i]->loadImages(images[i][0], images[i][1]);
    }
}

void PtzButtons::setVisible(bool visible)
{
    for (BitmapButton* b : buttons_)
        b->setVisible(visible);
}

BitmapButton* PtzButtons::button(int id) const
{
    for (BitmapButton* b : buttons_)
        if (b->commandId() == id)
            return b;
    return nullptr;
}

}   // namespace kevra
