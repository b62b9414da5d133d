#include "app/Viewer.h"

#include "app/ClientLiveViewDevice.h"
#include "app/GridLayout.h"
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

#include <algorithm>
#include <map>
#include <cstdlib>
#include <cstring>

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
      tour_(grid_, {[this](bool save) { applyGrid(save); },
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
    texts_ = std::make_unique<StatusTexts>(*playback_, grid_, view_,
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
    view_.clearCameras();
    treeCameras_.reset();
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
    std::vector<CameraId> staying;
    for (CameraId c : grid_.cameras())
        if (c.recorder != recorder)
            staying.push_back(c);
    // Its tiles empty: the next session's cameras are not these.
    std::array<CameraId, TileGrid::kMaxTiles> tiles = grid_.tiles();
    for (CameraId& c : tiles)
        if (c.recorder == recorder)
            c = CameraId{};
    grid_.setCameras(staying);
    grid_.restore(grid_.layout(), tiles);
    applyGrid(false);   // its streams stop now, on the session they run on
    recordings_.end(recorder);
    gridFull_ = false;
    if (gridShown())
        texts_->setStatus(Language::text(u"STOP"));
    placeTiles();
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
    const int layout = grid_.layout();
    std::array<CameraId, TileGrid::kMaxTiles> tiles = grid_.tiles();
    if (!moved.empty()) {
        tour_.stop();
        std::vector<CameraId> staying;
        for (CameraId c : grid_.cameras())
            if (!moved.count(c.recorder))
                staying.push_back(c);
        grid_.setCameras(staying);
        applyGrid(false);   // their streams stop now, on the sessions they run on
        for (const auto& [from, to] : moved)
            recordings_.end(from);
        for (CameraId& c : tiles)
            if (c.valid() && moved.count(c.recorder))
                c = moved[c.recorder] < 0 ? CameraId{} : CameraId{moved[c.recorder], c.channel};
    }
    recorders_ = list;
    sessions_->follow(list, LoginSettings::load(loginSettingsPath_).autoReconnect);
    if (!moved.empty()) {
        grid_.restore(layout, tiles);
        listCameras();
        applyGrid();
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
        applyGrid();   // the shown streams switch now, each holding its last picture
}

// ---------------------------------------------------------------- posted results

void Viewer::sessionsChanged()
{
    nameRecordersInLog();
    cameraNames_.assign(RecorderList::kMaxRecorders, {});
    for (int r : sessions_->recorders())
        if (size_t(r) < cameraNames_.size())
            cameraNames_[size_t(r)] = sessions_->cameraNames(r);
    // The tree: the dialog's recorder's node and cameras first, then each further recorder's.
    std::vector<ViewerView::RecorderNode> nodes = sessions_->nodes();
    if (!nodes.empty()) {
        ViewerView::RecorderNode first = std::move(nodes.front());
        nodes.erase(nodes.begin());
        if (!first.state.empty())
            view_.showFirstRecorder(first.name + u" - " + first.state);
        if (!treeCameras_ || first.cameras != *treeCameras_) {
            treeCameras_ = first.cameras;
            view_.showCameras(first.cameras);
        }
    }
    view_.showRecorders(nodes);
    listCameras();
    markTreeImages();   // a tree filled again has lost its marks
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
        remembered_.restore(grid_, recorders_);
        loadWalls();   // the walls' recorders are known now
        resumeWallTours();
        applyGrid();
        if (!grid_.shownCameras().empty())
            view_.showVideoMode();
    }
}

void Viewer::listCameras()
{
    std::vector<CameraId> listed;
    for (size_t r = 0; r < cameraNames_.size(); ++r)
        for (size_t ch = 0; ch < cameraNames_[r].size(); ++ch)
            listed.push_back(CameraId{int(r), int(ch)});
    if (listed == grid_.cameras())
        return;
    grid_.setCameras(std::move(listed));
    // Tiles remembered for a recorder whose list came only now show it; a grid that grew while
    // a recorder was away keeps its empty tiles until the user chooses.
    applyGrid(false);
}

void Viewer::recorderBack(int recorder)
{
    // Every stream of this recorder opens again on the new session (also one opened and
    // refused while it was away); cameras no longer listed stop. Other recorders' streams are
    // not touched.
    playback_->suspend(recorder);
    listCameras();
    applyGrid(false);   // the view is the user's as it was: nothing to remember
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
            gridFull_ = false;
            placeTiles();
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

// ---------------------------------------------------------------- commands

void Viewer::chooseCamera(CameraId camera)
{
    if (!grid_.listed(camera))
        return;
    tour_.pause();
    grid_.choose(camera);
    applyGrid();
    view_.showVideoMode();
}

void Viewer::toggleFullScreen()
{
    if (gridShown()) {
        gridFull_ = !gridFull_;   // the whole grid, never turned
        placeTiles();
        return;
    }
    if (playback_->singleStream())   // nothing chosen: nothing to show full screen
        playback_->single().toggleFullScreen();
}

void Viewer::chooseLayout(int tiles)
{
    if (!GridLayout::isLayout(tiles))
        return;
    tour_.pause();
    grid_.setLayout(tiles);
    applyGrid();
    if (!grid_.shownCameras().empty())
        view_.showVideoMode();
}

void Viewer::cycleLayout()
{
    chooseLayout(GridLayout::next(grid_.layout()));
}

bool Viewer::clickTile(int position)
{
    const int tile = grid_.positionTile(position);
    if (tile < 0)
        return false;
    if (tile == grid_.selected())
        return true;
    grid_.select(tile);
    placeTiles();
    if (walls_.spotSurface() && grid_.selectedCamera() != walls_.spotCamera())
        applyGrid(false);   // the spot follows the framed camera
    return false;
}

void Viewer::toggleTileZoom(int position)
{
    if (!gridShown())
        return;
    const int tile = grid_.zoomed() ? grid_.selected() : grid_.positionTile(position);
    tour_.pause();
    grid_.toggleZoom(tile);
    applyGrid();
    view_.showVideoMode();
}

CameraId Viewer::ptzCamera() const
{
    return gridShown() ? grid_.selectedCamera() : singleCamera();
}

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

// ---------------------------------------------------------------- the grid

// Brings the streams and the window in line with the model.
// Every tile's camera streams, also the hidden ones while a tile is shown alone, so the grid
// comes back at once; a camera that moves between the single view and a tile keeps its stream.
void Viewer::applyGrid(bool save)
{
    Playback::Shown shown;
    shown.live = grid_.liveCameras();
    for (CameraId c : tour_.preparing())   // the tour's next cameras, opened before their turn
        shown.live.push_back(c);
    shown.full = recordings_.controller().cameras();
    if (recordingNext_.valid())
        shown.full.push_back(recordingNext_);
    if (gridShown()) {
        shown.tileCount = grid_.shownTiles();
        for (int p = 0; p < shown.tileCount; ++p)
            shown.tiles[size_t(p)] = grid_.camera(grid_.positionTile(p));
    } else {
        gridFull_ = false;
        shown.single = grid_.camera(0);
    }
    addWalls(shown);
    playback_->show(shown);
    placeTiles();
    markTreeImages();
    // views.ini keeps the view the user arranged: a tour's pages are not remembered.
    if (save && !tour_.running())
        remembered_.save(grid_, recorders_);
}

void Viewer::placeTiles()
{
    if (gridShown())
        view_.showTiles(grid_.shownTiles(), grid_.zoomed() ? 0 : grid_.selected(), gridFull_);
    else
        view_.showTiles(0, -1, false);
    texts_->followFramedTile();   // the status row follows the framed tile
}

void Viewer::markTreeImages()
{
    const std::vector<CameraId> shown = gridShown() ? grid_.liveCameras() : std::vector<CameraId>{};
    for (CameraId c : grid_.cameras()) {
        const bool on = gridShown() ? std::find(shown.begin(), shown.end(), c) != shown.end()
                                    : c == singleCamera();
        view_.setCameraShown(c, on);
    }
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
    if (const RecorderSession* s = session(shownCamera().recorder))
        text = SessionTexts::recovery(s->recovery());
    for (int r : sessions_->recorders())
        if (text.empty())
            text = SessionTexts::recovery(sessions_->find(r)->recovery());
    if (text == recoveryText_)
        return;
    recoveryText_ = text;
    texts_->showRow();
}

// ---------------------------------------------------------------- the single view

void Viewer::setVideoShown(bool shown)
{
    playback_->single().setVideoShown(shown);
}

void Viewer::setVideoRectangles(const Rect& normal, const Rect& fullScreen)
{
    playback_->single().setRectangles(normal, fullScreen);
}

void Viewer::videoAreaMoved()
{
    playback_->single().setLayoutDirty();
}

Viewer::SaveSource Viewer::saveSource() const
{
    SaveSource s;
    CameraId c;
    if (gridShown()) {
        s.tile = true;
        s.position = grid_.zoomed() ? 0 : grid_.selected();
        c = playback_->tileCamera(s.position);
    } else if (playback_->singleStream()) {
        c = singleCamera();
        s.turned = playback_->single().pictureTurned();
    }
    if (c.valid())
        s.camera = cameraName(c);
    return s;
}

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

CameraId Viewer::shownCamera() const
{
    if (gridShown())
        return playback_->tileCamera(grid_.zoomed() ? 0 : grid_.selected());
    return singleCamera();
}

// A recording is of the camera's single-view stream: a grid tile that shows the other stream
// number switches to it (holding its last picture) before the recording starts, so the clip is
// one stream from its first key frame, and goes back once it ends.
bool Viewer::toggleRecording()
{
    const CameraId shown = shownCamera();
    if (shown.valid() && !recordings_.recording(shown)) {
        recordingNext_ = shown;
        applyGrid(false);
    }
    const bool done = recordings_.toggle(shown, shown.valid() ? saveSource().camera : u"");
    recordingNext_ = {};
    if (done)
        applyGrid(false);   // one that failed to start, or ended: back to the tile's stream
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
