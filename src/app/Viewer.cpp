#include "app/Viewer.h"

#include "app/ClientLiveViewDevice.h"
#include "app/GridLayout.h"
#include "app/LoginFailure.h"
#include "app/PtzPanel.h"
#include "app/ViewerLog.h"
#include "common/Clock.h"
#include "common/Utf.h"
#include "device/DeviceClient.h"
#include "device/ResultCode.h"
#include "device/TcpLink.h"
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

namespace {

// The link of a camera whose recorder has no session (never listed): opens nothing.
class NoStreamLink : public StreamLink {
public:
    void openStream(int, int, MediaSink*) override {}
    void stopStream(int) override {}
};

}   // namespace

Viewer::Viewer(DeviceClient& client, ViewerView& view, PictureSurface& picture, TileSurface& tiles,
               Playback::DeviceFactory devices, const std::string& recordingFolder)
    : client_(client), view_(view),
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
    if (!devices)
        devices = [this](CameraId camera) -> std::unique_ptr<LiveViewDevice> {
            if (camera.recorder == 0)
                return std::make_unique<ClientLiveViewDevice>(link_, 0, &recordings_.controller());
            // Grid cameras are listed only while their recorder has a session.
            static NoStreamLink none;
            RecorderSession* session = otherRecorders_->find(camera.recorder);
            return std::make_unique<ClientLiveViewDevice>(
                session ? static_cast<StreamLink&>(*session) : none, camera.recorder,
                &recordings_.controller());
        };
    playback_ = std::make_unique<Playback>(static_cast<SingleViewHost&>(*this), picture, tiles,
                                           std::move(devices));
    texts_ = std::make_unique<StatusTexts>(*playback_, grid_, view_,
                                           static_cast<const StatusTexts::Host&>(*this));
    recovery_ = std::make_unique<RecoveryController>(static_cast<RecoveryHost&>(*this));
    loginSettingsPath_ = LoginSettings::pathIn(AppValues::settingsFolder());
    ViewerLog::settingsRead(loginSettingsPath_);
    otherRecorders_ =
        std::make_unique<RecorderSessions>([this](std::function<void()> w) { view_.post(w); });
    otherRecorders_->setChanged([this] {
        nameRecordersInLog();
        view_.showRecorders(otherRecorders_->nodes());
        listCameras();
        markTreeImages();       // a tree filled again has lost its marks
        view_.refreshTiles();   // tiles of a recorder that is away tell its state
    });
    otherRecorders_->setStreamEvents([this](CameraId c) { otherStreamReopen(c); },
                                     [this](CameraId c, int code) { otherStreamOpened(c, code); });
    setLowLatency(LoginSettings::load(loginSettingsPath_).lowLatency, false);
    loadStreamNumbers();
    client_.setSink(this);
}

Viewer::~Viewer()
{
    client_.setSink(nullptr);   // no event call is under way once this returns
    shutdown();
    playback_.reset();
    nameRecordersInLog(true);
}

// The log names another recorder's cameras by the recorder's name, as the tree does.
void Viewer::nameRecordersInLog(bool forget)
{
    for (int r = 1; r < RecorderList::kMaxRecorders; ++r) {
        const RecorderSession* s = forget ? nullptr : otherRecorders_->find(r);
        ViewerLog::setRecorderName(r, s ? toUtf8(s->name()) : std::string());
    }
}

void Viewer::shutdown()
{
    recovery_->cancel();
    playback_->stopAll();   // every channel, also one whose open was refused
    recordings_.end();
    otherRecorders_->shutdown();
    shutDown_ = true;
}

std::vector<std::u16string> Viewer::splitNames(const uint8_t* block, int length, int count)
{
    std::vector<std::u16string> names;
    if (!block || length <= 0 || count <= 0)
        return names;
    int pos = 0;
    for (int i = 0; i < count && pos < length; ++i) {
        const void* zero = std::memchr(block + pos, 0, size_t(length - pos));
        const int end = zero ? int(static_cast<const uint8_t*>(zero) - block) : length;
        names.push_back(
            fromUtf8(std::string(reinterpret_cast<const char*>(block + pos), size_t(end - pos))));
        pos = end + 2;
    }
    return names;
}

// ---------------------------------------------------------------- device events (network thread)

void Viewer::onLogin(int code, int)
{
    // Reported right after the session's connect on this thread: its system error, if any.
    const int systemError = TcpLink::lastConnectError();
    view_.post([this, code, systemError] { loginResult(code, systemError); });
}

void Viewer::onList(int code, const uint8_t* block, int length, int count)
{
    // The names are copied now: the block lives only during this call.
    std::vector<std::u16string> names = splitNames(block, length, count);
    view_.post([this, code, names = std::move(names)] { camerasListed(code, names); });
}

void Viewer::onChannel(int channel, int code)
{
    view_.post([this, channel, code] { openResult(channel, code); });
}

void Viewer::onConnectionLost()
{
    view_.post([this] { sessionLost(); });
}

void Viewer::onChannelClosed(int channel)
{
    view_.post([this, channel] { channelClosed(channel); });
}

// ---------------------------------------------------------------- login

void Viewer::requestLogin()
{
    if (dialogOpen_ || shutDown_)
        return;
    dialogOpen_ = true;
    recovery_->pause();   // no retries while the dialog is open
    view_.clearCameras();
    view_.openLoginDialog();
}

void Viewer::logInByHand(const LoginRequest& r)
{
    // A retry still on its way is no longer wanted: its result must not reach the dialog, nor
    // count as the session coming back.
    for (LoginBy& by : logins_)
        if (by == LoginBy::Retry)
            by = LoginBy::Abandoned;
    recovery_->cancel();
    if (dialogOpen_)
        recovery_->pause();
    logins_.push_back(LoginBy::Dialog);
    client_.logout();   // the session so far goes first
    client_.login(r.host, r.port, r.user, r.password, r.timeoutMs);
}

void Viewer::cancelLoginWait()
{
    for (LoginBy& by : logins_)
        if (by == LoginBy::Dialog)
            by = LoginBy::Abandoned;
}

bool Viewer::loginWaiting() const
{
    return std::find(logins_.begin(), logins_.end(), LoginBy::Dialog) != logins_.end();
}

void Viewer::loginResult(int code, int systemError)
{
    // Results come in the order the logins went out. One nobody sent can only be the
    // dialog's, if it is open.
    if (logins_.empty() && !dialogOpen_)
        return;
    const LoginBy by = logins_.empty() ? LoginBy::Dialog : logins_.front();
    if (!logins_.empty())
        logins_.pop_front();
    switch (by) {
    case LoginBy::Abandoned:
        // Nobody waits for it any more; a session it opened is not left behind unless a
        // later login replaces it anyway.
        if (code == result_code::OK && logins_.empty())
            client_.logout();
        return;
    case LoginBy::Retry:
        if (recovery_->onLoginResult(code) && code == result_code::OK) {
            ViewerLog::event("reconnected to the recorder");
            client_.queryList();
        } else if (code != result_code::OK) {
            ViewerLog::detail("login again failed: " + describeResult(code));
        }
        return;
    case LoginBy::Dialog:
        if (code == result_code::OK)
            client_.queryList();
        view_.loginDialogResult(code, systemError);   // closes the dialog when accepted
        return;
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
    // Logged in by hand: the retries end, and whatever was shown belonged to the session
    // before: its view ends here. The camera list of this login brings back what this
    // recorder showed last (views.ini beside login.ini).
    loginSettingsPath_ = settingsPath;
    setLowLatency(LoginSettings::load(loginSettingsPath_).lowLatency, false);
    loadStreamNumbers();
    remembered_.setRecorder(settingsPath, address, port);
    recovery_->cancel();
    recovery_->resume();
    stopShown();
    // Channel numbers of the new login may name other cameras (another recorder): a recording
    // of the session before ends here, its file complete. The other recorders' go on.
    recordings_.end(0);
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
    for (size_t i = 0; i < otherRecorders_->count(); ++i) {
        const RecorderSession& s = otherRecorders_->at(i);
        if (otherRecorders_->keeps(list, s.index()))
            continue;
        int to = -1;
        for (size_t j = 1; j < list.size() && to < 0; ++j)
            if (list[j] == s.recorder() && !otherRecorders_->keeps(list, int(j)))
                to = int(j);
        moved[s.index()] = to;
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
    otherRecorders_->follow(list, LoginSettings::load(loginSettingsPath_).autoReconnect);
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

void Viewer::camerasListed(int code, const std::vector<std::u16string>& names)
{
    cameraNames_ = names;
    view_.showCameras(names);
    if (code != result_code::OK) {
        // After a login by hand an empty tree alone would say nothing: the user is told why
        // it is empty. Retries only log it (nobody may be there to close a box).
        ViewerLog::event("no camera list: " + describeResult(code));
        if (restorePending_)
            view_.showError(Language::text(u"LIST_ERR") + LoginFailure::codeSuffix(code));
    } else if (names.empty()) {
        ViewerLog::event("the recorder listed no cameras");
    }
    grid_.setCameraCount(int(names.size()));
    if (restorePending_) {
        restorePending_ = false;
        // What this recorder showed last (views.ini): a grid, or one camera, or the tree.
        remembered_.restore(grid_, recorders_);
        loadWalls();   // the walls' recorders are known now
        resumeWallTours();
        applyGrid();
        if (!grid_.shownCameras().empty())
            view_.showVideoMode();
    } else {
        // A new session after a lost one: every stream of this recorder opens again on it
        // (also one opened and refused while the session was away); cameras no longer listed
        // stop. The other recorders' streams are not touched.
        playback_->suspend(0);
        applyGrid();
    }
    markTreeImages();
    showFirstRecorder();
    recovery_->onCameraList();
}

void Viewer::listCameras()
{
    std::vector<CameraId> listed;
    for (size_t ch = 0; ch < cameraNames_.size(); ++ch)
        listed.push_back(CameraId{0, int(ch)});
    for (size_t i = 0; i < otherRecorders_->count(); ++i) {
        const RecorderSession& s = otherRecorders_->at(i);
        for (size_t ch = 0; ch < s.cameraNames().size(); ++ch)
            listed.push_back(CameraId{s.index(), int(ch)});
    }
    if (listed == grid_.cameras())
        return;
    grid_.setCameras(std::move(listed));
    // Tiles remembered for a recorder whose list came only now show it; a grid that grew while
    // a recorder was away keeps its empty tiles until the user chooses.
    applyGrid(false);
}

void Viewer::showFirstRecorder()
{
    view_.showFirstRecorder(firstRecorderState());
}

std::u16string Viewer::firstRecorderState() const
{
    std::u16string name;
    if (!recorders_.empty())
        name = RecorderList::displayName(recorders_[0]);
    std::u16string state = Language::text(u"NVR_ONLINE");
    if (recovery_->sessionRecovering())
        state = recovery_->sessionSecondsLeft() > 0
                    ? Language::format(u"NVR_RETRY_IN", {recovery_->sessionSecondsLeft()})
                    : Language::text(u"NVR_RETRYING");
    return (name.empty() ? Language::text(u"DEVICE") : name) + u" - " + state;
}

void Viewer::otherStreamReopen(CameraId camera)
{
    if (!playback_->stream(camera))
        return;
    ViewerLog::event(who(camera) + ": opening again");
    playback_->reopen(camera);
}

void Viewer::otherStreamOpened(CameraId camera, int code)
{
    if (playback_->onOpenResult(camera, code))
        ViewerLog::channelOpened(camera.channel, code, camera.recorder);
}

void Viewer::openResult(int channel, int code)
{
    // A late answer for a camera stopped meanwhile starts nothing.
    if (playback_->onOpenResult(camera(channel), code))
        ViewerLog::channelOpened(channel, code);
    recovery_->onOpenResult(channel, code);
}

void Viewer::sessionLost()
{
    if (logins_.size() > 0 && logins_.back() == LoginBy::Dialog)
        return;   // the old session: the login by hand replaces it anyway
    gridFull_ = false;
    placeTiles();
    recovery_->setEnabled(LoginSettings::load(loginSettingsPath_).autoReconnect);
    if (recovery_->onConnectionLost()) {
        ViewerLog::event("connection to the recorder lost; logging in again by itself");
        // The cameras, their last pictures and the single view's mode stay until the session
        // is back; the pictures are then marked as stalled. Other recorders play on.
        playback_->suspend(0);
    } else {
        ViewerLog::event("connection to the recorder lost");
        playback_->stopAll();   // the view starts again from the login that follows
        view_.showConnectionLost();
        requestLogin();
    }
    showFirstRecorder();
}

void Viewer::channelClosed(int channel)
{
    if (!playback_->stream(camera(channel)))
        return;
    ViewerLog::event("camera " + std::to_string(channel + 1) +
                     ": media connection closed; reopening");
    recovery_->onChannelClosed(channel);
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

void Viewer::stopShown()
{
    tour_.stop();
    playback_->stopAll();
    gridFull_ = false;
    if (gridShown())
        texts_->setStatus(Language::text(u"STOP"));
    placeTiles();
}

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
    if (c.recorder == 0)
        client_.ptz(c.channel, int(code), 0);
    else if (RecorderSession* s = otherRecorders_->find(c.recorder))
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
    // Another recorder that is away: its tiles say so (and keep their last pictures).
    if (const RecorderSession* s = c.recorder > 0 ? otherRecorders_->find(c.recorder) : nullptr;
        s && s->state() != RecorderSession::State::Connected)
        return s->stateText();
    if (c.recorder == 0 && recovery_->sessionRecovering() && !recoveryText_.empty())
        return recoveryText_;   // the first recorder is away: its tiles say so too
    return {};
}

// ---------------------------------------------------------------- recovery and stall marks

void Viewer::poll()
{
    if (shutDown_)
        return;
    recovery_->poll();
    otherRecorders_->poll();
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
        RecorderSession* other = c.recorder > 0 ? otherRecorders_->find(c.recorder) : nullptr;
        if (c.recorder > 0 && (!other || other->state() != RecorderSession::State::Connected ||
                               other->cameraRecovering(c.channel)))
            continue;   // away: its session's recovery brings the stream back
        if (c.recorder == 0 && recovery_->channelRecovering(c.channel))
            continue;
        ViewerLog::event(who(c) + ": no media for " + std::to_string(kMediaSilenceMs / 1000) +
                         " s; reopening");
        if (other)
            other->cameraSilent(c.channel);
        else
            recovery_->onChannelClosed(c.channel);
    }
}

void Viewer::loginWithSavedSettings()
{
    const LoginSettings s = LoginSettings::load(loginSettingsPath_);
    logins_.push_back(LoginBy::Retry);
    client_.logout();   // whatever is left of the lost session goes first, as in the dialog
    client_.login(toUtf8(s.ip), s.port, toUtf8(s.user), toUtf8(s.password), kLoginTimeoutMs);
}

void Viewer::reopenShown()
{
    applyGrid();   // suspended streams open again; a camera the recorder no longer lists stops
}

void Viewer::reopenChannel(int channel)
{
    ViewerLog::event("camera " + std::to_string(channel + 1) + ": opening again");
    playback_->reopen(camera(channel));   // that stream alone; the others play on
}

void Viewer::showRecoveryText(const std::u16string& text)
{
    recoveryText_ = text;
    texts_->showRow();
    showFirstRecorder();
    view_.refreshTiles();
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
    const std::vector<std::u16string>* names = &cameraNames_;
    if (camera.recorder > 0) {
        const RecorderSession* s = otherRecorders_->find(camera.recorder);
        names = s ? &s->cameraNames() : nullptr;
    }
    if (names && camera.channel >= 0 && size_t(camera.channel) < names->size())
        return (*names)[size_t(camera.channel)];
    return u"camera " + fromUtf8(std::to_string(camera.channel + 1));
}

std::string Viewer::who(CameraId camera) const
{
    std::string text = ViewerLog::cameraText(camera.channel, camera.recorder);
    if (camera.recorder > 0)
        if (const RecorderSession* s = otherRecorders_->find(camera.recorder))
            text = "camera " + std::to_string(camera.channel + 1) + " of " + toUtf8(s->name());
    return text;
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
