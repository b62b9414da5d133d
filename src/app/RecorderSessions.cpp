#include "app/RecorderSessions.h"

namespace kevra {

RecorderSession* RecorderSessions::find(int recorder) const
{
    for (const auto& s : sessions_)
        if (s && s->index() == recorder)
            return s.get();
    return nullptr;
}

bool RecorderSessions::keeps(const std::vector<RecorderList::Recorder>& list, int recorder) const
{
    const RecorderSession* s = find(recorder);
    return s && size_t(recorder) < list.size() && s->recorder() == list[size_t(recorder)];
}

void RecorderSessions::follow(const std::vector<RecorderList::Recorder>& list, bool autoReconnect)
{
    std::vector<std::unique_ptr<RecorderSession>> kept;
    std::vector<RecorderSession*> started;
    for (size_t i = 1; i < list.size(); ++i) {
        std::unique_ptr<RecorderSession> session;
        for (auto& old : sessions_)
            if (old && old->recorder() == list[i] && old->index() == int(i)) {
                session = std::move(old);
                break;
            }
        if (!session) {
            const int index = int(i);
            session = std::make_unique<RecorderSession>(index, list[i], post_, autoReconnect);
            session->setChanged([this] {
                if (changed_)
                    changed_();
            });
            session->setReopen([this, index](int channel) {
                if (reopen_)
                    reopen_(CameraId{index, channel});
            });
            session->setOpened([this, index](int channel, int code) {
                if (opened_)
                    opened_(CameraId{index, channel}, code);
            });
            started.push_back(session.get());
        }
        kept.push_back(std::move(session));
    }
    // Sessions not kept end here, each joining its own network thread; the new ones start once
    // the table is whole again (their first change is told, and may be read back, at once).
    for (auto& old : sessions_)
        if (old) {
            old->setChanged({});
            old->setReopen({});
            old->setOpened({});
        }
    sessions_ = std::move(kept);
    for (RecorderSession* s : started)
        s->start();
    if (changed_)
        changed_();
}

void RecorderSessions::shutdown()
{
    // Nothing is told while they end: the caller may be ending too.
    for (auto& s : sessions_) {
        s->setChanged({});
        s->shutdown();
    }
    sessions_.clear();
}

void RecorderSessions::poll()
{
    for (auto& s : sessions_)
        s->poll();
}

std::vector<ViewerView::RecorderNode> RecorderSessions::nodes() const
{
    std::vector<ViewerView::RecorderNode> nodes;
    for (const auto& s : sessions_)
        nodes.push_back({s->name(), s->stateText(), s->cameraNames()});
    return nodes;
}

}   // namespace kevra
