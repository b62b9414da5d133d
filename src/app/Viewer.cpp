#include "app/Viewer.h"

#include "app/ClientLiveViewDevice.h"
#include "app/LoginFailure.h"
#include "app/PtzPanel.h"
#include "app/ViewerLog.h"
#include "common/Clock.h"
#include "common/Utf.h"
#include "app/RecorderSessions.h"
#include "app/SessionTexts.h"
#include "device/ResultCode.h"
#include "profile/Language.h"
#include "profile/LoginSettings.h"
#include "profile/RecorderList.h"
#include "profile/ViewSettings.h"
#include "profile/ViewerSettings.h"
#include "app/AppValues.h"

#include <map>

namespace kevra {

Viewer::Viewer(ViewerView& view, PictureSurface& picture, TileSurface& tiles,
               Playback::DeviceFactory devices, const std::string& recordingFolder)
    : view_(view),
      recordings_(recordingFolder, {[this](CameraId c) { return who(c); },
                                    [this](const std::u16string& t) { texts_->tell(t); },
                                    [this] {
                                        view_.refreshTiles();
                                        view_.refreshNotice();
                                    }}),
      grid_(view, static_cast<ViewerGrid::Host&>(*this)),
      tour_(grid_.model(), {[this](bool save) { grid_.apply(save); },
                            [this](const std::u16string& t) { texts_->tell(t); },
                            [this](CameraId c) {
                                const StreamController* s = playback_->stream(c);
                                return s && s->state() == StreamController::State::Playing;
                            }})
{
    RecorderSessions::Events events;
    events.changed = [this] { sessionsChanged(); };
    events.loginResult = [this](int recorder, int code, int systemError, bool first) {
        loginResult(recorder, code, systemError, first);
    };
    events.listed = [this](int recorder, int code) { camerasListed(recorder, code); };
    events.lost = [this](int recorder) { sessionLost(recorder); };
    events.back = [this](int recorder) { recorderBack(recorder); };
    events.reopen = [this](CameraId c) { streamReopen(c); };
    events.opened = [this](CameraId c, int code) { streamOpened(c, code); };
    events.closed = [this](CameraId c) { return streamClosed(c); };
    sessions_ = std::make_unique<RecorderSessions>(
        [this](std::function<void()> w) { view_.post(std::move(w)); }, std::move(events));
    if (!devices)
        devices = [this](CameraId camera) -> std::unique_ptr<LiveViewDevice> {
            return std::make_unique<ClientLiveViewDevice>(
                sessions_->link(camera.recorder), camera.recorder, &recordings_.controller());
        };
    playback_ = std::make_unique<Playback>(static_cast<SingleViewHost&>(*this), picture, tiles,
                                           std::move(devices));
    texts_ = std::make_unique<StatusTexts>(*playback_, grid_.model(), view_,
                                           static_cast<const StatusTexts::Host&>(*this));
    loginSettingsPath_ = LoginSettings::pathIn(AppValues::settingsFolder());
    ViewerLog::settingsRead(loginSettingsPath_);
    setLowLatency(LoginSettings::load(loginSettingsPath_).lowLatency, false);
    loadStreamNumbers();
}

Viewer::~Viewer()
{
    shutdown();
    playback_.reset();
    nameRecordersInLog(true);
}

// The log names every recorder's cameras with the recorder's name, as the tree does.
void Viewer::nameRecordersInLog(bool forget)
{
    for (int r = 0; r < RecorderList::kMaxRecorders; ++r) {
        const RecorderSession* s = forget ? nullptr : sessions_->find(r);
        ViewerLog::setRecorderName(r, s ? s->name() : std::string());
    }
}

void Viewer::shutdown()
{
    playback_->stopAll();   // every channel, also one whose open was refused
    recordings_.end();
    sessions_->shutdown();
    shutDown_ = true;
}

RecorderSession* Viewer::session(int recorder) const
{
    return sessions_->find(recorder);
}

bool Viewer::recovering() const
{
    for (int r : sessions_->recorders())
        if (sessions_->find(r)->state() == RecorderSession::State::Reconnecting)
            return true;
    return false;
}

void Viewer::setAutoReconnect(bool on)
{
    for (int r : sessions_->recorders())
        sessions_->find(r)->setAutoReconnect(on);
}

// ---------------------------------------------------------------- login

void Viewer::requestLogin()
{
    if (dialogOpen_ || shutDown_)
        return;
    dialogOpen_ = true;
    if (RecorderSession* s = session(kDialogRecorder))
        s->pause();   // no retries while the dialog is open
    view_.showRecorders({});
    view_.openLoginDialog();
}

void Viewer::logInByHand(const LoginRequest& r)
{
    // Whatever the dialog's recorder showed belonged to the session before: its view ends here,
    // and a recording of it ends with its file complete (channel numbers of the new login may
    // name other cameras). The other recorders play and record on.
    endRecorderView(kDialogRecorder);
    dialogWaiting_ = true;
    sessions_->logInByHand({r.host, r.port, r.user, r.password},
                           LoginSettings::load(loginSettingsPath_).autoReconnect);
}

void Viewer::endRecorderView(int recorder)
{
    tour_.stop();
    grid_.dropRecorder(recorder);   // its streams stop now, on the session they run on
    recordings_.end(recorder);
    grid_.endFullScreen();
    if (gridShown())
        texts_->setStatus(Language::text(u"STOP"));
    grid_.place();
}

void Viewer::cancelLoginWait()
{
    if (!dialogWaiting_)
        return;
    dialogWaiting_ = false;
    sessions_->endFirst();   // its result is no longer awaited, nor a session it opens
}

bool Viewer::loginWaiting() const
{
    return dialogWaiting_;
}

void Viewer::loginResult(int recorder, int code, int systemError, bool first)
{
    const RecorderSession* s = session(recorder);
    const std::string name = s ? "recorder " + s->name() : "a recorder";
    if (code == result_code::OK)
        ViewerLog::event(name + (first ? ": logged in" : ": reconnected"));
    else
        ViewerLog::detail(name + (first ? ": login failed: " : ": login again failed: ") +
                          describeResult(code));
    // The dialog's own login: its result goes back to it (which closes it when accepted).
    if (first && recorder == kDialogRecorder && dialogWaiting_) {
        dialogWaiting_ = false;
        view_.loginDialogResult(code, systemError);
    }
}

void Viewer::loginDialogClosed(bool cancelled, const std::u16string& settingsPath,
                               const std::u16string& address, int port)
{
    dialogOpen_ = false;
    if (cancelled) {
        cancelLoginWait();
        shutdown();
        view_.endProgram();
        return;
    }
    // Logged in by hand: the camera list of this login brings back what this recorder showed
    // last (views.ini beside login.ini).
    loginSettingsPath_ = settingsPath;
    setLowLatency(LoginSettings::load(loginSettingsPath_).lowLatency, false);
    loadStreamNumbers();
    remembered_.setRecorder(settingsPath, address, port);
    if (RecorderSession* s = session(kDialogRecorder)) {
        s->setAutoReconnect(LoginSettings::load(loginSettingsPath_).autoReconnect);
        s->resume();
    }
    restorePending_ = true;
    view_.showTreeMode();
    followRecorderList();
}

void Viewer::followRecorderList()
{
    if (shutDown_)
        return;
    const std::vector<RecorderList::Recorder> list = RecorderList::load(loginSettingsPath_);
    // A recorder whose place in the list changed (or that left it) gets another session: its
    // streams and recordings end before the session they run on, and its tiles go over to the
    // recorder's new place, or empty when it left the list.
    std::map<int, int> moved;   // old place -> new place (-1: gone)
    for (int from : sessions_->recorders()) {
        if (sessions_->keeps(list, from))
            continue;
        int to = -1;
        for (size_t j = 1; j < list.size() && to < 0; ++j)
            if (list[j] == *sessions_->entry(from) && !sessions_->keeps(list, int(j)))
                to = int(j);
        moved[from] = to;
    }
    std::optional<ViewerGrid::Placement> kept;
    if (!moved.empty()) {
        tour_.stop();
        kept = grid_.leaveRecorders(moved);   // their streams stop now, on their sessions
        for (const auto& [from, to] : moved)
            recordings_.end(from);
    }
    recorders_ = list;
    sessions_->follow(list, LoginSettings::load(loginSettingsPath_).autoReconnect);
    if (kept) {
        grid_.model().restore(kept->layout, kept->tiles);
        grid_.listCameras(cameraNames_);
        grid_.apply();
    }
}

void Viewer::loadStreamNumbers()
{
    const ViewerSettings s = ViewerSettings::load(loginSettingsPath_);
    playback_->setStreamNumbers(s.tileStream, s.singleStream);
}

void Viewer::setStreamNumbers(int tile, int single)
{
    playback_->setStreamNumbers(ViewerSettings::clampStream(tile),
                                ViewerSettings::clampStream(single));
    if (playback_->streamCount() > 0)
        grid_.apply();   // the shown streams switch now, each holding its last picture
}

// ---------------------------------------------------------------- posted results

void Viewer::sessionsChanged()
{
    nameRecordersInLog();
    cameraNames_.assign(RecorderList::kMaxRecorders, {});
    for (int r : sessions_->recorders())
        if (size_t(r) < cameraNames_.size())
            cameraNames_[size_t(r)] = sessions_->cameraNames(r);
    view_.showRecorders(sessions_->nodes());
    grid_.listCameras(cameraNames_);
    grid_.markTree();   // a tree filled again has lost its marks
    showRecoveryText();
    view_.refreshTiles();   // tiles of a recorder that is away tell its state
}

void Viewer::camerasListed(int recorder, int code)
{
    const RecorderSession* s = session(recorder);
    if (!s)
        return;
    const bool restore = restorePending_ && recorder == kDialogRecorder;
    if (code != result_code::OK) {
        // After a login by hand an empty tree alone would say nothing: the user is told why
        // it is empty. Retries only log it (nobody may be there to close a box).
        ViewerLog::event("recorder " + s->name() + ": no camera list: " + describeResult(code));
        if (restore)
            view_.showError(Language::text(u"LIST_ERR") + LoginFailure::codeSuffix(code));
    } else if (s->cameraNames().empty()) {
        ViewerLog::event("recorder " + s->name() + " listed no cameras");
    }
    sessionsChanged();
    if (restore) {
        restorePending_ = false;
        // What this recorder showed last (views.ini): a grid, or one camera, or the tree.
        remembered_.restore(grid_.model(), recorders_);
        loadWalls();   // the walls' recorders are known now
        resumeWallTours();
        grid_.apply();
        if (!grid_.model().shownCameras().empty())
            view_.showVideoMode();
    }
}

void Viewer::recorderBack(int recorder)
{
    // Every stream of this recorder opens again on the new session (also one opened and
    // refused while it was away); cameras no longer listed stop. Other recorders' streams are
    // not touched.
    playback_->suspend(recorder);
    grid_.listCameras(cameraNames_);
    grid_.apply(false);   // the view is the user's as it was: nothing to remember
}

void Viewer::streamReopen(CameraId camera)
{
    if (!playback_->stream(camera))
        return;
    ViewerLog::event(who(camera) + ": opening again");
    playback_->reopen(camera);   // that stream alone; the others play on
}

void Viewer::streamOpened(CameraId camera, int code)
{
    // A late answer for a camera stopped meanwhile starts nothing.
    if (playback_->onOpenResult(camera, code))
        ViewerLog::channelOpened(camera.channel, code, camera.recorder);
}

bool Viewer::streamClosed(CameraId camera)
{
    if (!playback_->stream(camera))
        return false;
    ViewerLog::event(who(camera) + ": media connection closed; reopening");
    return true;
}

void Viewer::sessionLost(int recorder)
{
    const RecorderSession* s = session(recorder);
    if (!s)
        return;
    if (s->state() == RecorderSession::State::Reconnecting) {
        ViewerLog::event("connection to recorder " + s->name() +
                         " lost; logging in again by itself");
        // The cameras, their last pictures and the single view's mode stay until the session
        // is back; the pictures are then marked as stalled. Other recorders play on.
        playback_->suspend(recorder);
    } else {
        ViewerLog::event("connection to recorder " + s->name() + " lost");
        // Without retries the dialog's recorder ends the view: the login that follows starts it
        // again.
        if (recorder == kDialogRecorder) {
            playback_->stopAll();
            grid_.endFullScreen();
            grid_.place();
            view_.showConnectionLost();
            requestLogin();
        }
    }
    sessionsChanged();
}

void Viewer::postStatus(const std::u16string& key)
{
    view_.post([this, key] { statusKey(key); });
}

void Viewer::statusKey(const std::u16string& key)
{
    const std::u16string text = Language::text(key);
    ViewerLog::detail("status: " + toUtf8(text));
    if (!gridShown())
        texts_->setStatus(text);
}

// ---------------------------------------------------------------- PTZ

void Viewer::ptz(PtzCode code)
{
    const CameraId c = ptzCamera();
    if (!c.valid())
        return;
    if (RecorderSession* s = session(c.recorder))
        s->ptz(c.channel, int(code));
}

bool Viewer::arrowKey(int key)
{
    if (!ptzCamera().valid())
        return false;
    // Remapped only while the picture really is shown turned, not from the window's shape.
    const std::optional<PtzCode> code = PtzPanel::keyCode(key, pictureTurned());
    if (code)
        ptz(*code);
    return true;
}

// ---------------------------------------------------------------- tours

bool Viewer::toggleTour(bool wholeGrid)
{
    return tour_.toggle(wholeGrid, singleCamera(),
                        remembered_.path().empty()
                            ? ViewSettings::pathIn(AppValues::settingsFolder())
                            : remembered_.path());
}

std::u16string Viewer::tourText() const
{
    return tour_.text(Clock::nowMs());
}

void Viewer::addShown(Playback::Shown& shown)
{
    for (CameraId c : tour_.preparing())   // the tour's next cameras, opened before their turn
        shown.live.push_back(c);
    shown.full = recordings_.controller().cameras();
    if (recordingNext_.valid())
        shown.full.push_back(recordingNext_);
    addWalls(shown);
}

void Viewer::gridApplied(bool save)
{
    // views.ini keeps the view the user arranged: a tour's pages are not remembered.
    if (save && !tour_.running())
        remembered_.save(grid_.model(), recorders_);
}

std::u16string Viewer::recorderAway(CameraId c) const
{
    // A recorder that is away: its tiles say so (and keep their last pictures).
    if (const RecorderSession* s = session(c.recorder);
        s && s->state() != RecorderSession::State::Connected)
        return SessionTexts::state(*s);
    return {};
}

// ---------------------------------------------------------------- recovery and stall marks

void Viewer::poll()
{
    if (shutDown_)
        return;
    sessions_->poll();
    tour_.poll(Clock::nowMs());
    pollWalls();
    watchStreams();
    recordings_.poll();
    texts_->poll();
}

// A stream whose media connection went silent is treated as a closed one: reopened on the
// same schedule, and logged.
void Viewer::watchStreams()
{
    std::vector<CameraId> silent;
    for (StreamController* s : playback_->streams())
        if (s->polling() && s->device().silentMs() >= kMediaSilenceMs)
            silent.push_back(s->camera());
    for (CameraId c : silent) {
        RecorderSession* s = session(c.recorder);
        if (!s || s->state() != RecorderSession::State::Connected || s->cameraRecovering(c.channel))
            continue;   // away: its session's recovery brings the stream back
        ViewerLog::event(who(c) + ": no media for " + std::to_string(kMediaSilenceMs / 1000) +
                         " s; reopening");
        s->cameraSilent(c.channel);
    }
}

// The status row tells the recovery of the shown camera's recorder, else of the first recorder
// being recovered.
void Viewer::showRecoveryText()
{
    std::u16string text;
    if (const RecorderSession* s = session(grid_.shownCamera().recorder))
        text = SessionTexts::recovery(s->recovery());
    for (int r : sessions_->recorders())
        if (text.empty())
            text = SessionTexts::recovery(sessions_->find(r)->recovery());
    if (text == recoveryText_)
        return;
    recoveryText_ = text;
    texts_->showRow();
}

// ---------------------------------------------------------------- names

std::u16string Viewer::cameraName(CameraId camera) const
{
    if (camera.recorder >= 0 && size_t(camera.recorder) < cameraNames_.size()) {
        const std::vector<std::u16string>& names = cameraNames_[size_t(camera.recorder)];
        if (camera.channel >= 0 && size_t(camera.channel) < names.size())
            return names[size_t(camera.channel)];
    }
    return u"camera " + fromUtf8(std::to_string(camera.channel + 1));
}

std::string Viewer::who(CameraId camera) const
{
    return ViewerLog::cameraText(camera.channel, camera.recorder);
}

// ---------------------------------------------------------------- recording

// A recording is of the camera's single-view stream: a grid tile that shows the other stream
// number switches to it (holding its last picture) before the recording starts, so the clip is
// one stream from its first key frame, and goes back once it ends.
bool Viewer::toggleRecording()
{
    const CameraId shown = grid_.shownCamera();
    if (shown.valid() && !recordings_.recording(shown)) {
        recordingNext_ = shown;
        grid_.apply(false);
    }
    const bool done = recordings_.toggle(shown, shown.valid() ? saveSource().camera : u"");
    recordingNext_ = {};
    if (done)
        grid_.apply(false);   // one that failed to start, or ended: back to the tile's stream
    return done;
}

std::u16string Viewer::recordingMark() const
{
    if (gridShown() || !playback_->singleStream())
        return {};
    return recordings_.mark(singleCamera());
}

void Viewer::setLowLatency(bool on, bool save)
{
    if (on != playback_->lowLatency())
        ViewerLog::event(on ? "low latency on" : "low latency off");
    playback_->setLowLatency(on);
    if (save && !LoginSettings::saveLowLatency(loginSettingsPath_, on))
        ViewerLog::event("low latency setting not saved to " + toUtf8(loginSettingsPath_));
}

}   // namespace kevra
