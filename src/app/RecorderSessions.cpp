#include "app/RecorderSessions.h"

namespace kevra {

void RecorderSessions::follow(const std::vector<RecorderList::Recorder>& list, bool autoReconnect)
{
    std::vector<std::unique_ptr<RecorderSession>> kept;
    for (size_t i = 1; i < list.size(); ++i) {
        std::unique_ptr<RecorderSession> session;
        for (auto& old : sessions_)
            if (old && old->recorder() == list[i] && old->index() == int(i)) {
                session = std::move(old);
                break;
            }
        if (!session) {
            session = std::make_unique<RecorderSession>(int(i), list[i], post_, autoReconnect);
            session->setChanged([this] {
                if (changed_)
                    changed_();
            });
            session->start();
        }
        kept.push_back(std::move(session));
    }
    // Sessions not kept end here, each joining its own network thread.
    sessions_ = std::move(kept);
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
