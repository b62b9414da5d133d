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
#include "profile/TourSettings.h"
#include "profile/ViewerSettings.h"
#include "app/AppValues.h"

#include <algorithm>
#include <map>
#include <cstdlib>
#include <cstring>

namespace kevra {

Viewer::Viewer(ViewerView& view, PictureSurface& picture, TileSurface& tiles,
               Playback::DeviceFactory devices, const std::string& recordingFolder)
    : view_(view), recordings_(std::make_unique<RecordingController>(recordingFolder))
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
            return std::make_unique<ClientLiveViewDevice>(sessions_->link(camera.recorder),
                                                          camera.recorder, recordings_.get());
        };
    playback_ = std::make_unique<Playback>(static_cast<SingleViewHost&>(*this), picture, tiles,
                                           std::move(devices));
    loginSettingsPath_ = LoginSettings::pathIn(AppValues::settingsFolder());
    setLowLatency(LoginSettings::load(loginSettingsPath_).lowLatency, false);
    loadStreamNumbers();
}

Viewer::~Viewer()
{
    shutdown();
    playback_.reset();
}

void Viewer::shutdown()
{
    playback_->stopAll();   // every channel, also one whose open was refused
    endRecordings();
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

void Viewer::endRecordings(int recorder)
{
    std::map<CameraId, ClipRecorder::Status> ended;
    if (recorder < 0)
        ended = recordings_->stopAll();
    else
        for (CameraId c : recordings_->cameras())
            if (c.recorder == recorder)
                ended[c] = recordings_->stop(c);
    for (const auto& [camera, status] : ended)
        ViewerLog::event("recording of " + who(camera) + " ended: " +
                         (status.path.empty() ? std::string("nothing written") : status.path));
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
    endRecordings(recorder);
    gridFull_ = false;
    if (gridShown())
        setStatus(Language::text(u"STOP"));
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
    recorderName_ = ViewSettings::recorderName(address, port);
    const size_t slash = settingsPath.find_last_of(u'/');
    viewsPath_ = ViewSettings::pathIn(
        slash == std::u16string::npos ? std::u16string() : settingsPath.substr(0, slash + 1));
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
            endRecordings(from);
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
        restoreView();
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
    if (playback_->onOpenResult(camera, code) && code != result_code::OK)
        ViewerLog::event(who(camera) + ": open refused: " + describeResult(code));
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

// What this recorder showed last (views.ini): a grid, or one camera, or the tree to choose from.
void Viewer::restoreView()
{
    const ViewSettings v = ViewSettings::load(viewsPath_, recorderName_);
    std::array<CameraId, TileGrid::kMaxTiles> tiles{};
    for (int t = 0; t < TileGrid::kMaxTiles; ++t) {
        const std::u16string& source = v.sources[size_t(t)];
        int recorder = source.empty() ? 0 : -1;
        for (size_t i = 1; i < recorders_.size() && recorder < 0; ++i)
            if (ViewSettings::recorderName(recorders_[i].ip, recorders_[i].port) == source)
                recorder = int(i);
        if (recorder >= 0 && v.tiles[size_t(t)] >= 0)   // a recorder no longer listed: empty
            tiles[size_t(t)] = CameraId{recorder, v.tiles[size_t(t)]};
    }
    grid_.restore(v.layout, tiles);
    applyGrid();
    if (!grid_.shownCameras().empty())
        view_.showVideoMode();
}

void Viewer::postStatus(const std::u16string& key)
{
    view_.post([this, key] { statusKey(key); });
}

void Viewer::statusKey(const std::u16string& key)
{
    ViewerLog::detail("status " + toUtf8(key));
    if (!gridShown())
        setStatus(Language::text(key));
}

void Viewer::setStatus(const std::u16string& text)
{
    status_ = text;
    // While something is being recovered, the status row says that instead.
    if (recoveryText_.empty())
        view_.showStatus(text);
}

// ---------------------------------------------------------------- commands

void Viewer::chooseCamera(CameraId camera)
{
    if (!grid_.listed(camera))
        return;
    pauseTour();
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
    pauseTour();
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
    return false;
}

void Viewer::toggleTileZoom(int position)
{
    if (!gridShown())
        return;
    const int tile = grid_.zoomed() ? grid_.selected() : grid_.positionTile(position);
    pauseTour();
    grid_.toggleZoom(tile);
    applyGrid();
    view_.showVideoMode();
}

CameraId Viewer::ptzCamera() const
{
    return gridShown() ? grid_.selectedCamera() : singleCamera();
}

void Viewer::ptz(int code)
{
    const CameraId c = ptzCamera();
    if (!c.valid())
        return;
    if (RecorderSession* s = session(c.recorder))
        s->ptz(c.channel, code);
}

bool Viewer::arrowKey(int key)
{
    if (!ptzCamera().valid())
        return false;
    // Remapped only while the picture really is shown turned, not from the window's shape.
    ptz(PtzPanel::keyCode(key, pictureTurned()));
    return true;
}

// ---------------------------------------------------------------- tours

bool Viewer::toggleTour(bool wholeGrid)
{
    const uint64_t now = Clock::nowMs();
    using Kind = TourController::Kind;
    const Kind wanted = !gridShown()                  ? Kind::Camera
                        : wholeGrid || grid_.zoomed() ? Kind::Grid
                                                      : Kind::Tile;
    // A running tour ends, whichever key; a paused one of the other kind gives way.
    if (tour_.running() || (tour_.paused() && tour_.kind() != wanted)) {
        const bool running = tour_.running();
        tour_.stop();
        applyGrid(false);   // the camera opened ahead stops; views.ini keeps the view as it was
        if (running)
            return true;
    }
    const TourSettings settings = TourSettings::load(
        viewsPath_.empty() ? ViewSettings::pathIn(AppValues::settingsFolder()) : viewsPath_);
    if (tour_.paused()) {
        // A paused tile tour goes on in its tile from the camera it shows now, through the
        // cameras the other tiles do not show now: a manual choice may have changed them.
        if (wanted == Kind::Tile)
            return startTileTour(tour_.tile() < grid_.layout() ? tour_.tile() : grid_.selected(),
                                 settings.dwellS, now);
        tour_.resume(now);
        return true;
    }
    // Tours go through every recorder's cameras, in tree order.
    tourCameras_ = grid_.cameras();
    const int cameras = int(tourCameras_.size());
    bool started = false;
    if (wanted == Kind::Camera) {
        started =
            tour_.start(Kind::Camera, 1, cameras, tourIndex(singleCamera()), settings.dwellS, now);
    } else if (wanted == Kind::Tile) {
        started = startTileTour(grid_.selected(), settings.dwellS, now);
    } else {
        const int layout =
            grid_.layout() == 4 || grid_.layout() == 9 ? grid_.layout() : settings.grid;
        started = cameras > layout &&
                  tour_.start(Kind::Grid, layout, cameras,
                              tourIndex(grid_.camera(grid_.zoomed() ? grid_.selected() : 0)),
                              settings.dwellS, now);
        if (started)
            showTourPage();
    }
    if (!started && wanted != Kind::Tile)
        setStatus(Language::text(u"TOUR_NONE_T"));
    return started;
}

// A grid tile through every camera the other tiles of the grid do not show.
bool Viewer::startTileTour(int tile, int dwellS, uint64_t nowMs)
{
    tourCameras_ = grid_.cameras();
    std::vector<int> cameras;
    for (int i = 0; i < int(tourCameras_.size()); ++i) {
        const int at = grid_.tileOf(tourCameras_[size_t(i)]);
        if (at < 0 || at == tile || at >= grid_.layout())
            cameras.push_back(i);
    }
    const int current = tourIndex(grid_.camera(tile));
    if (!tour_.startTile(tile, cameras, current, dwellS, nowMs)) {
        setStatus(Language::text(u"TOUR_NONE_T"));
        return false;
    }
    if (tour_.currentPage() != std::vector<int>{current})   // an empty tile: its first camera
        showTourPage();
    return true;
}

void Viewer::pauseTour()
{
    if (tour_.running())
        tour_.pause();
}

std::u16string Viewer::tourText() const
{
    return tour_.text(Clock::nowMs());
}

void Viewer::pollTour()
{
    if (!tour_.running())
        return;
    const TourController::Update u = tour_.poll(Clock::nowMs(), [this](int index) {
        const StreamController* s = playback_->stream(tourCamera(index));
        return s && s->state() == StreamController::State::Playing;
    });
    if (u.show)
        showTourPage();
    else if (u.prepare)
        applyGrid();
}

// The tour's current page: the camera of the single view, or the grid's tiles.
void Viewer::showTourPage()
{
    const std::vector<int> page = tour_.currentPage();
    if (page.empty())
        return;
    if (tour_.kind() == TourController::Kind::Camera) {
        grid_.choose(tourCamera(page[0]));
    } else if (tour_.kind() == TourController::Kind::Tile) {
        // The toured tile takes the camera; the frame stays where the user put it.
        const int framed = grid_.selected();
        if (!grid_.select(tour_.tile()))
            return;
        grid_.choose(tourCamera(page[0]));
        grid_.select(framed);
    } else {
        std::array<CameraId, TileGrid::kMaxTiles> tiles{};
        for (size_t i = 0; i < page.size() && i < tiles.size(); ++i)
            tiles[i] = tourCamera(page[i]);
        grid_.restore(tour_.layout(), tiles);
    }
    applyGrid();
}

int Viewer::tourIndex(CameraId camera) const
{
    const auto it = std::find(tourCameras_.begin(), tourCameras_.end(), camera);
    return camera.valid() && it != tourCameras_.end() ? int(it - tourCameras_.begin()) : -1;
}

CameraId Viewer::tourCamera(int index) const
{
    return index >= 0 && size_t(index) < tourCameras_.size() ? tourCameras_[size_t(index)]
                                                             : CameraId{};
}

// ---------------------------------------------------------------- the grid

// Brings the streams and the window in line with the model.
// Every tile's camera streams, also the hidden ones while a tile is shown alone, so the grid
// comes back at once; a camera that moves between the single view and a tile keeps its stream.
void Viewer::applyGrid(bool save)
{
    Playback::Shown shown;
    shown.live = grid_.liveCameras();
    for (int index : tour_.preparing())   // the tour's next cameras, opened before their turn
        if (const CameraId c = tourCamera(index); grid_.listed(c))
            shown.live.push_back(c);
    if (gridShown()) {
        shown.tileCount = grid_.shownTiles();
        for (int p = 0; p < shown.tileCount; ++p)
            shown.tiles[size_t(p)] = grid_.camera(grid_.positionTile(p));
    } else {
        gridFull_ = false;
        shown.single = grid_.camera(0);
    }
    playback_->show(shown);
    placeTiles();
    markTreeImages();
    // views.ini keeps the view the user arranged: a tour's pages are not remembered.
    if (save && !tour_.running())
        saveGrid();
}

void Viewer::placeTiles()
{
    if (gridShown())
        view_.showTiles(grid_.shownTiles(), grid_.zoomed() ? 0 : grid_.selected(), gridFull_);
    else
        view_.showTiles(0, -1, false);
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

void Viewer::saveGrid()
{
    if (recorderName_.empty())
        return;
    ViewSettings v;
    v.layout = grid_.layout();
    for (int t = 0; t < TileGrid::kMaxTiles; ++t) {
        const CameraId c = grid_.tiles()[size_t(t)];
        if (!c.valid() || (c.recorder > 0 && size_t(c.recorder) >= recorders_.size()))
            continue;
        v.tiles[size_t(t)] = c.channel;
        if (c.recorder > 0)
            v.sources[size_t(t)] = ViewSettings::recorderName(recorders_[size_t(c.recorder)].ip,
                                                              recorders_[size_t(c.recorder)].port);
    }
    ViewSettings::save(viewsPath_, recorderName_, v);
}

Viewer::TileLabel Viewer::tileLabel(int position)
{
    TileLabel l;
    CameraId c = playback_->tileCamera(position);
    bool stopped = false;
    if (!c.valid()) {
        // No stream (the connection is lost, say): the tile still names its camera.
        c = grid_.camera(grid_.positionTile(position));
        if (!c.valid() || !gridShown())
            return l;
        stopped = true;
    }
    l.name = cameraName(c);
    l.state = Language::text(stopped ? u"STOP_TILE"
                                     : StreamController::tileKey(playback_->tileState(position)));
    // A recorder that is away: its tiles say so (and keep their last pictures).
    if (const RecorderSession* s = session(c.recorder);
        s && s->state() != RecorderSession::State::Connected)
        l.state = SessionTexts::state(*s);
    if (position >= 0 && position < TileGrid::kMaxTiles)
        l.note = tileNotes_[size_t(position)];
    l.recording = markOf(c);   // also while its stream is lost: the recording goes on
    if (statsShown_ && !stopped &&
        (grid_.zoomed() || grid_.positionTile(position) == grid_.selected()))
        l.stats = statsText(playback_->stream(c));
    // The status row follows the framed tile.
    if (grid_.positionTile(position) == grid_.selected() && l.state != status_)
        setStatus(l.state);
    return l;
}

// ---------------------------------------------------------------- recovery and stall marks

void Viewer::poll()
{
    if (shutDown_)
        return;
    sessions_->poll();
    pollTour();
    markStalledTiles();
    watchStreams();
    watchRecordings();
    // The figures change while the picture may not (a stalled stream): drawn again each second.
    if (statsShown_ && Clock::nowMs() - statsDrawnMs_ >= 1000) {
        statsDrawnMs_ = Clock::nowMs();
        view_.refreshTiles();
        view_.refreshNotice();
    }
    const std::u16string notice = videoNotice();
    if (notice != shownNotice_) {
        shownNotice_ = notice;
        view_.refreshNotice();
    }
}

// Each tile whose stream has drawn no new picture for a while says so over its last picture,
// as the single view does; the note goes with the next picture.
void Viewer::markStalledTiles()
{
    bool changed = false;
    for (int p = 0; p < TileGrid::kMaxTiles; ++p) {
        const CameraId shown = gridShown() ? playback_->tileCamera(p) : CameraId{};
        const StreamController* s = shown.valid() ? playback_->stream(shown) : nullptr;
        const int seconds = s ? s->stalledSeconds() : 0;
        std::u16string note = seconds ? Language::format(u"NO_PICTURE", {seconds}) : u"";
        if (note != tileNotes_[size_t(p)]) {
            tileNotes_[size_t(p)] = std::move(note);
            changed = true;
        }
    }
    if (changed)
        view_.refreshTiles();
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

std::u16string Viewer::videoNotice() const
{
    std::u16string notice;
    const StreamController* s = playback_->singleStream();
    const bool full = playback_->single().fullScreen();
    // A stream that cannot be shown is no stalled picture: say that, not how long none came
    // (in full screen there is no status row to say it).
    if (s && s->state() == StreamController::State::CodecError)
        notice = full ? Language::text(u"CODEC_ERR") : u"";
    else if (const int seconds = s ? s->stalledSeconds() : 0)
        notice = Language::format(u"NO_PICTURE", {seconds});
    // Full screen has no status row: the recovery is told over the picture.
    if (full && !recoveryText_.empty())
        notice += (notice.empty() ? u"" : u"\n") + recoveryText_;
    // ... and so is the tour's state.
    if (full && tour_.kind() != TourController::Kind::None)
        notice += (notice.empty() ? u"" : u"\n") + tourText();
    return notice;
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
    view_.showStatus(text.empty() ? status_ : text);
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
    if (const RecorderSession* s = session(camera.recorder))
        return "camera " + std::to_string(camera.channel + 1) + " of " + s->name();
    return ViewerLog::cameraText(camera.channel, camera.recorder);
}

// ---------------------------------------------------------------- recording

namespace {

// The status row is narrow: the home folder is "~".
std::u16string shortPath(const std::string& path)
{
    const char* home = std::getenv("HOME");
    const std::string h = home ? home : "";
    if (!h.empty() && path.size() > h.size() && path.compare(0, h.size(), h) == 0 &&
        path[h.size()] == '/')
        return u"~" + fromUtf8(path.substr(h.size()));
    return fromUtf8(path);
}

}   // namespace

CameraId Viewer::shownCamera() const
{
    if (gridShown())
        return playback_->tileCamera(grid_.zoomed() ? 0 : grid_.selected());
    return singleCamera();
}

bool Viewer::recordingShown() const
{
    const CameraId c = shownCamera();
    return c.valid() && recordings_->recording(c);
}

bool Viewer::toggleRecording()
{
    const CameraId shown = shownCamera();
    if (!shown.valid()) {
        setStatus(Language::text(u"REC_NONE"));
        return false;
    }
    const std::string camera = toUtf8(saveSource().camera);
    const std::string who = this->who(shown);
    if (recordings_->recording(shown)) {
        const ClipRecorder::Status s = recordings_->stop(shown);
        const bool told = failuresTold_.erase(shown) != 0;
        if (s.failed) {
            setStatus(Language::text(u"REC_FAILED") + u" " + fromUtf8(s.error));
            if (!told)
                ViewerLog::event("recording of " + who + " failed: " + s.error);
        } else {
            setStatus(Language::text(u"REC_SAVED") + u" " + shortPath(s.path));
            // A recording that went on after a lost connection is in several parts: all named.
            std::string files;
            for (const ClipWriter::Part& part : s.files)
                files += (files.empty() ? "" : ", ") + part.path;
            ViewerLog::event("recording of " + who + " saved to " +
                             (files.empty() ? s.path : files) + " (" + std::to_string(s.frames) +
                             " frames)");
        }
    } else {
        const RecordingController::Started r = recordings_->start(shown, camera);
        if (!r.ok) {
            setStatus(Language::text(u"REC_FAILED") + u" " + fromUtf8(r.error));
            ViewerLog::event("recording of " + who + " could not start: " + r.error);
        } else {
            setStatus(Language::text(u"REC_TO") + u" " + shortPath(r.path));
            ViewerLog::event("recording " + who + " to " + r.path);
        }
    }
    markedSecond_ = -1;
    view_.refreshTiles();
    view_.refreshNotice();
    return true;
}

std::u16string Viewer::markOf(CameraId camera) const
{
    if (!camera.valid() || !recordings_->recording(camera))
        return {};
    const ClipRecorder::Status s = recordings_->status(camera);
    if (s.failed)
        return u"\u25CF REC !";
    return u"\u25CF REC " + fromUtf8(RecordingController::elapsedText(s.elapsedMs));
}

void Viewer::toggleStats()
{
    statsShown_ = !statsShown_;
    statsDrawnMs_ = Clock::nowMs();
    view_.refreshTiles();
    view_.refreshNotice();
}

std::u16string Viewer::statsText(const StreamController* stream)
{
    if (!stream)
        return {};
    std::u16string text;
    for (const auto& [key, value] : StreamStats::overlayRows(stream->figures()))
        text += (text.empty() ? u"" : u"\n") + Language::text(key) + u" " + fromUtf8(value);
    return text;
}

std::u16string Viewer::singleStats() const
{
    if (!statsShown_ || gridShown())
        return {};
    return statsText(playback_->singleStream());
}

void Viewer::setLowLatency(bool on, bool save)
{
    if (on != playback_->lowLatency())
        ViewerLog::event(on ? "low latency on" : "low latency off");
    playback_->setLowLatency(on);
    if (save && !LoginSettings::saveLowLatency(loginSettingsPath_, on))
        ViewerLog::event("low latency setting not saved to " + toUtf8(loginSettingsPath_));
}

std::u16string Viewer::recordingMark() const
{
    if (gridShown() || !playback_->singleStream())
        return {};
    return markOf(singleCamera());
}

// A recording that stopped by itself (full disk, folder gone) is told once, in the status row
// and the log; the marks are drawn again each second while anything records.
void Viewer::watchRecordings()
{
    int64_t longest = -1;
    for (CameraId camera : recordings_->cameras()) {
        const ClipRecorder::Status s = recordings_->status(camera);
        longest = std::max(longest, s.elapsedMs / 1000);
        if (s.failed && failuresTold_.insert(camera).second) {
            setStatus(Language::text(u"REC_FAILED") + u" " + fromUtf8(s.error));
            ViewerLog::event("recording of " + who(camera) + " failed: " + s.error +
                             (s.path.empty() ? "" : "; kept " + s.path));
        }
    }
    if (longest != markedSecond_) {
        markedSecond_ = longest;
        view_.refreshTiles();
        view_.refreshNotice();
    }
}

}   // namespace kevra
