#include "app/RecorderSessions.h"

#include "app/SessionTexts.h"
#include "common/Utf.h"

namespace kevra {

namespace {

// The login dialog's place in the table, first in login.ini's list.
constexpr size_t kDialog = size_t(RecorderList::kDialogRecorder);
static_assert(kDialog == 0, "the further recorders follow the dialog's");

RecorderSession::Login loginOf(const RecorderList::Recorder& r)
{
    return {toUtf8(r.ip), r.port, toUtf8(r.user), toUtf8(r.password)};
}

}   // namespace

RecorderSessions::RecorderSessions(RecorderSession::Post post, Events events)
    : post_(std::move(post)), events_(std::move(events))
{
}

RecorderSessions::~RecorderSessions()
{
    shutdown();
}

std::unique_ptr<RecorderSession>
RecorderSessions::make(std::u16string name, RecorderSession::Login login, bool autoReconnect,
                       RecorderSession::Options::FirstFailure first)
{
    RecorderSession::Options options;
    options.autoReconnect = autoReconnect;
    options.firstFailure = first;
    auto s = std::make_unique<RecorderSession>(toUtf8(name), std::move(login), post_, options);
    s->setListener(this);
    return s;
}

void RecorderSessions::logInByHand(const RecorderSession::Login& login, bool autoReconnect)
{
    endFirst();
    if (sessions_.empty()) {
        sessions_.resize(1);
        entries_.resize(1);
    }
    RecorderList::Recorder entry;
    entry.ip = fromUtf8(login.host);
    entry.port = login.port;
    entry.user = fromUtf8(login.user);
    entry.password = fromUtf8(login.password);
    entries_[kDialog] = entry;
    sessions_[kDialog] = make(RecorderList::displayName(entry), login, autoReconnect,
                              RecorderSession::Options::FirstFailure::Final);
    sessions_[kDialog]->start();
}

void RecorderSessions::endFirst()
{
    if (sessions_.empty() || !sessions_[kDialog])
        return;
    std::unique_ptr<RecorderSession> old = std::move(sessions_[kDialog]);
    old->setListener(nullptr);
    old->shutdown();
}

RecorderSession* RecorderSessions::find(int recorder) const
{
    return recorder >= 0 && size_t(recorder) < sessions_.size() ? sessions_[size_t(recorder)].get()
                                                                : nullptr;
}

int RecorderSessions::indexOf(const RecorderSession& session) const
{
    for (size_t i = 0; i < sessions_.size(); ++i)
        if (sessions_[i].get() == &session)
            return int(i);
    return -1;
}

bool RecorderSessions::keeps(const std::vector<RecorderList::Recorder>& list, int recorder) const
{
    // The dialog's recorder's session comes and goes with logins by hand: the list never
    // replaces it.
    return find(recorder) && (recorder == RecorderList::kDialogRecorder ||
                              (size_t(recorder) < list.size() &&
                               entries_[size_t(recorder)] == list[size_t(recorder)]));
}

void RecorderSessions::PlaceLink::openStream(int channel, int stream, MediaSink* sink)
{
    if (RecorderSession* s = sessions_.find(place_))
        s->openStream(channel, stream, sink);
}

void RecorderSessions::PlaceLink::stopStream(int channel)
{
    if (RecorderSession* s = sessions_.find(place_))
        s->stopStream(channel);
}

StreamLink& RecorderSessions::link(int recorder)
{
    if (recorder < 0)
        recorder = int(links_.size());   // a place of its own that never has a session
    while (links_.size() <= size_t(recorder))
        links_.push_back(std::make_unique<PlaceLink>(*this, int(links_.size())));
    return *links_[size_t(recorder)];
}

const RecorderList::Recorder* RecorderSessions::entry(int recorder) const
{
    return find(recorder) ? &entries_[size_t(recorder)] : nullptr;
}

std::vector<int> RecorderSessions::recorders() const
{
    std::vector<int> places;
    for (size_t i = 0; i < sessions_.size(); ++i)
        if (sessions_[i])
            places.push_back(int(i));
    return places;
}

std::vector<std::u16string> RecorderSessions::cameraNames(int recorder) const
{
    std::vector<std::u16string> names;
    if (const RecorderSession* s = find(recorder))
        for (const std::string& n : s->cameraNames())
            names.push_back(fromUtf8(n));
    return names;
}

void RecorderSessions::follow(const std::vector<RecorderList::Recorder>& list, bool autoReconnect)
{
    // The first place is the login dialog's: its session comes and goes with logins by hand.
    std::vector<std::unique_ptr<RecorderSession>> kept(std::max<size_t>(list.size(), 1));
    std::vector<RecorderList::Recorder> entries(kept.size());
    if (!sessions_.empty()) {
        kept[kDialog] = std::move(sessions_[kDialog]);
        entries[kDialog] = entries_[kDialog];
        // The name the list gives the recorder logged in to by hand.
        if (!list.empty() && entries[kDialog].ip == list[kDialog].ip &&
            entries[kDialog].port == list[kDialog].port)
            entries[kDialog].name = list[kDialog].name;
    }
    std::vector<RecorderSession*> started;
    for (size_t i = kDialog + 1; i < list.size(); ++i) {
        entries[i] = list[i];
        if (i < sessions_.size() && sessions_[i] && entries_[i] == list[i]) {
            kept[i] = std::move(sessions_[i]);
            continue;
        }
        kept[i] = make(RecorderList::displayName(list[i]), loginOf(list[i]), autoReconnect,
                       RecorderSession::Options::FirstFailure::RetryUnreachable);
        started.push_back(kept[i].get());
    }
    // Sessions not kept end here, each joining its own network thread; the new ones start once
    // the table is whole again (their first change is told, and may be read back, at once).
    for (auto& old : sessions_)
        if (old)
            old->setListener(nullptr);
    sessions_ = std::move(kept);
    entries_ = std::move(entries);
    for (RecorderSession* s : started)
        s->start();
    if (events_.changed)
        events_.changed();
}

void RecorderSessions::shutdown()
{
    // Nothing is told while they end: the caller may be ending too.
    for (auto& s : sessions_)
        if (s) {
            s->setListener(nullptr);
            s->shutdown();
        }
    sessions_.clear();
    entries_.clear();
}

void RecorderSessions::poll()
{
    for (auto& s : sessions_)
        if (s)
            s->poll();
}

std::vector<ViewerView::RecorderNode> RecorderSessions::nodes() const
{
    std::vector<ViewerView::RecorderNode> nodes;
    for (size_t i = 0; i < sessions_.size(); ++i) {
        ViewerView::RecorderNode n;
        n.name = RecorderList::displayName(entries_[i]);
        if (const RecorderSession* s = sessions_[i].get()) {
            n.state = SessionTexts::state(*s);
            n.cameras = cameraNames(int(i));
        }
        nodes.push_back(std::move(n));
    }
    return nodes;
}

CameraId RecorderSessions::camera(const RecorderSession& s, int channel) const
{
    return CameraId{indexOf(s), channel};
}

// ---------------------------------------------------------------- the sessions' news

void RecorderSessions::sessionChanged(RecorderSession&)
{
    if (events_.changed)
        events_.changed();
}

void RecorderSessions::loginResult(RecorderSession& s, int code, int systemError, bool first)
{
    if (events_.loginResult)
        events_.loginResult(indexOf(s), code, systemError, first);
}

void RecorderSessions::camerasListed(RecorderSession& s, int code)
{
    if (events_.listed)
        events_.listed(indexOf(s), code);
}

void RecorderSessions::sessionLost(RecorderSession& s)
{
    if (events_.lost)
        events_.lost(indexOf(s));
}

bool RecorderSessions::reopenAll(RecorderSession& s)
{
    if (events_.back)
        events_.back(indexOf(s));
    return bool(events_.back);
}

bool RecorderSessions::reopenStream(RecorderSession& s, int channel)
{
    if (events_.reopen)
        events_.reopen(camera(s, channel));
    return bool(events_.reopen);
}

void RecorderSessions::streamOpened(RecorderSession& s, int channel, int code)
{
    if (events_.opened)
        events_.opened(camera(s, channel), code);
}

bool RecorderSessions::streamClosed(RecorderSession& s, int channel)
{
    return events_.closed ? events_.closed(camera(s, channel)) : s.streaming(channel);
}

}   // namespace kevra
