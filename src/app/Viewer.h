// The viewer's coordinator: follows its recorders' sessions, routes the login dialog's login to
// the dialog (retries go on by themselves), decides what is shown
// (TileGrid: one camera, a grid, a tile alone) and has Playback run the streams, and runs the
// recovery of lost sessions and media connections. The grid commands (ViewerGrid), tours
// (ViewerTour), recordings (ViewerRecordings), the remembered view (RememberedView) and the texts
// on screen (StatusTexts) are objects of their own it owns. Owned by the main window; tells the window
// what to show through ViewerView.
//
// Recorders: every recorder of login.ini's list has its own session (RecorderSessions); the
// first is the one the login dialog logs in to. Cameras are named by CameraId {recorder,
// channel}; the tree and a growing grid list them in list order.
//
// Threads: the sessions' news and the SingleViewHost "any thread" calls (frame-timer thread)
// are posted to the user-interface thread (ViewerView::post). Everything else runs on the
// user-interface thread.
#pragma once
#include "app/Playback.h"
#include "common/PtzCode.h"
#include "app/RememberedView.h"
#include "app/SingleViewHost.h"
#include "app/StatusTexts.h"
#include "app/ViewerGrid.h"
#include "app/ViewerRecordings.h"
#include "app/ViewerTour.h"
#include "app/WallSet.h"
#include "app/ViewerView.h"
#include "profile/RecorderList.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kevra {

class PictureSurface;
class RecorderSession;
class RecorderSessions;
class TileSurface;

class Viewer : private SingleViewHost, private StatusTexts::Host, private ViewerGrid::Host {
public:
    // How long a playing camera may stay silent (not one byte on its media connection) before
    // it is treated as closed and reopened. A live camera sends several packets a second and a
    // key frame every few seconds; the stall mark shows after 3 s, and the session itself is
    // given up after 60 s of silence. 10 s leaves room for a recorder that briefly pauses a
    // stream and still brings a dead one back well before anyone gives up watching.
    static constexpr uint64_t kMediaSilenceMs = 10000;
    // The recorder the login dialog logs in to: the first of login.ini's list.
    static constexpr int kDialogRecorder = RecorderList::kDialogRecorder;

    struct LoginRequest {
        std::string host;
        int port = 0;
        std::string user;
        std::string password;
    };
    using TileLabel = StatusTexts::TileLabel;
    using SaveSource = ViewerGrid::SaveSource;

    // devices makes one stream's device (default: over its recorder's session). The view and
    // surfaces must outlive the coordinator. recordingFolder: where clips go ("": the user's
    // videos folder); only the default devices feed recordings.
    Viewer(ViewerView& view, PictureSurface& picture, TileSurface& tiles,
           Playback::DeviceFactory devices = {}, const std::string& recordingFolder = "");
    ~Viewer() override;   // shutdown()
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // Any thread: the status row says the text of this language key (unless a recovery is
    // being told there); in posting order.
    void postStatus(const std::u16string& key) override;

    // ---- User-interface thread ----
    // Opens the login dialog (one at a time); retries wait while it is open.
    void requestLogin();
    // The dialog's Login: the dialog's recorder's session so far ends (its streams and
    // recordings with it; the other recorders' go on) and a new one logs in; its first result
    // alone goes back to the dialog.
    void logInByHand(const LoginRequest& request);
    // The dialog's Cancel while its login waits: that login's result is no longer awaited.
    void cancelLoginWait();
    bool loginWaiting() const;
    // The dialog closed: cancelled ends the program; otherwise its login (settings saved to
    // settingsPath, recorder at address:port) was accepted and the camera tree is shown.
    void loginDialogClosed(bool cancelled, const std::u16string& settingsPath = {},
                           const std::u16string& address = {}, int port = 0);
    // Logs in to the recorders after the first of login.ini's list (each on its own session)
    // and follows later changes of that list; a recorder left out is logged out.
    void followRecorderList();
    // login.ini AutoReconnect, for every session; off: a lost session stays lost (the dialog's
    // then opens the login dialog).
    void setAutoReconnect(bool on);
    // Exit: the retries end and every stream stops (at the recorder too), timers joined.
    // Repeated calls do nothing more.
    void shutdown();

    // A camera chosen in the tree: into the framed tile of a grid, or the single view.
    void chooseCamera(CameraId camera) { grid_.chooseCamera(camera); }
    void chooseCamera(int channel) { chooseCamera(CameraId{kDialogRecorder, channel}); }
    void toggleFullScreen() { grid_.toggleFullScreen(); }
    void chooseLayout(int tiles) { grid_.chooseLayout(tiles); }
    void cycleLayout() { grid_.cycleLayout(); }
    // A click on a tile frames it; true when the tile was framed already (the window then
    // switches full screen, unless a double click follows).
    bool clickTile(int position) { return grid_.clickTile(position); }
    // Double click: the tile's camera alone (its stream and every other keep running), and
    // back to the grid.
    void toggleTileZoom(int position) { grid_.toggleTileZoom(position); }
    // Sends a PTZ code to the camera the panels drive (framed tile, else the one camera).
    void ptz(PtzCode code);
    // An arrow key (KeyTable::Left, Up, Right, Down); false when no camera is there to drive.
    bool arrowKey(int key);
    // R and the picture's menu: starts or stops recording the camera shown (the framed tile of
    // a grid, else the single view); the status row and the log say where the file goes.
    // False when no camera is shown.
    bool toggleRecording();
    // Whether the camera shown (as toggleRecording picks it) records: the menu's check mark.
    bool recordingShown() const { return recordings_.recording(grid_.shownCamera()); }
    // The red mark over the single view's picture ("● REC 0:07"), empty when it does not
    // record.
    std::u16string recordingMark() const;
    // I and the picture's menu: shows or hides the stream figures over the single view's
    // picture and the framed tile (or the tile shown alone).
    void toggleStats() { texts_->toggleStats(); }
    bool statsShown() const { return texts_->statsShown(); }
    // The single view's figures, one "label value" row a line; empty while hidden or in a grid.
    std::u16string singleStats() const { return texts_->singleStats(); }
    // Low latency for every stream (the picture's menu); save: remembered in login.ini.
    void setLowLatency(bool on, bool save);
    bool lowLatency() const { return playback_->lowLatency(); }
    // T: starts a tour (the single view through every camera; in a grid the framed tile
    // through the cameras the other tiles do not show), resumes a paused one, or ends a running
    // one. wholeGrid (Shift+T, and T on a tile shown alone): the grid, 4 or 9 tiles, page by
    // page (the Grid of views.ini's [tour] for other grids). A paused tour of another kind
    // ends first. A tour never rewrites the remembered view. False when there is nothing to
    // tour.
    bool toggleTour(bool wholeGrid = false);
    const TourController& tour() const { return tour_.controller(); }
    // The tour's state for the screen (empty: no tour).
    std::u16string tourText() const override;
    // The recorder's stream numbers for grid tiles and for a camera shown alone (login.ini,
    // read at each login by hand); shown streams switch at once, holding their last pictures.
    void setStreamNumbers(int tile, int single);
    // Called a few times a second: recovery schedules, stall marks, silent and undecodable
    // streams.
    void poll();
    static constexpr int kPollMs = 250;

    // What the window draws.
    bool gridShown() const { return grid_.shown(); }
    bool gridFullScreen() const { return grid_.fullScreen(); }
    CameraId ptzCamera() const { return grid_.ptzCamera(); }
    TileLabel tileLabel(int position) const { return texts_->tileLabel(position); }
    std::u16string videoNotice() const { return texts_->videoNotice(); }
    SaveSource saveSource() const { return grid_.saveSource(); }
    // Tells the coordinator the window's video area is shown (the single view draws then).
    void setVideoShown(bool shown) { playback_->single().setVideoShown(shown); }
    // Window layout: the single view's rectangles and a moved window.
    void setVideoRectangles(const Rect& normal, const Rect& fullScreen)
    {
        playback_->single().setRectangles(normal, fullScreen);
    }
    void videoAreaMoved() { playback_->single().setLayoutDirty(); }
    bool pictureTurned() const { return !gridShown() && playback_->single().pictureTurned(); }
    // The camera of the single view (none: not valid; channel -1).
    CameraId singleCamera() const { return playback_->singleCamera(); }
    int singleChannel() const { return singleCamera().channel; }
    // The camera's name in its recorder's list ("camera 3" when the list has none for it).
    std::u16string cameraName(CameraId camera) const override;

    // Inspection.
    Playback& playback() { return *playback_; }
    const TileGrid& grid() const { return grid_.model(); }
    RecordingController& recordings() { return recordings_.controller(); }
    RecorderSessions& sessions() { return *sessions_; }
    // The recorder's session; null when it has none.
    RecorderSession* session(int recorder) const;
    // Whether a session is being logged in again after a loss.
    bool recovering() const;
    // What the status row says of the recovery shown ("" while none is).
    const std::u16string& recoveryText() const { return recoveryText_; }
    const std::u16string& viewsPath() const { return remembered_.path(); }
    const StatusTexts& texts() const { return *texts_; }

    // Walls and the spot monitor (ViewerWalls.cpp). loadWalls() reads them from views.ini (at
    // start, and again once a login lists the cameras); the window attaches a surface to each
    // wall whose screen is there and detaches it before the screen's window goes. A wall's
    // cameras stream only while it is attached and they are listed.
    void loadWalls();
    const WallSet& walls() const { return walls_; }
    void attachWall(int number, TileSurface* surface);
    void attachSpot(TileSurface* surface);
    // The framed camera (or the single view's) goes to the wall's large tile.
    bool sendToWall(int number);
    // A camera dropped on a wall's tile.
    bool placeOnWall(int number, int tile, CameraId camera);
    bool cycleWallLayout(int number);
    // Every wall tours the cameras a page at a time, or every tour stops.
    bool toggleWallTours();
    // The Settings dialog's choice: screens[k] is wall (k+1)'s screen (-1: none), and the
    // spot's screen (-1: none). Saved at once.
    void assignWallScreens(const std::vector<int>& screens, int spotScreen);
    // A wall tile's name and state, as a grid tile says them.
    TileLabel wallLabel(const TileSurface* wall, int position) const;
    const std::u16string& loginSettingsPath() const { return loginSettingsPath_; }

private:
    // The sessions' news (user-interface thread).
    void sessionsChanged();
    void loginResult(int recorder, int code, int systemError, bool first);
    void camerasListed(int recorder, int code);
    void sessionLost(int recorder);
    void recorderBack(int recorder);
    void streamReopen(CameraId camera);
    void streamOpened(CameraId camera, int code);
    bool streamClosed(CameraId camera);
    // The streams, tiles and recordings of one recorder end (its session is replaced).
    void endRecorderView(int recorder);
    void showRecoveryText();
    void statusKey(const std::u16string& key);

    void loadStreamNumbers();
    void watchStreams();
    std::u16string wallsPath() const;
    void saveWalls();
    void resumeWallTours();
    // The walls' shown tiles (cameras listed only) for Playback, the spot following the framed
    // camera.
    void addWalls(Playback::Shown& shown);
    void pollWalls();
    void nameRecordersInLog(bool forget = false);
    // "camera 3", or "camera 3 of Shop" for another recorder's: for the log.
    std::string who(CameraId camera) const;

    // StatusTexts::Host.
    std::u16string recorderAway(CameraId camera) const override;
    std::u16string recoveryNote() const override { return recoveryText_; }
    std::u16string recordingMark(CameraId camera) const override
    {
        return recordings_.mark(camera);
    }

    // ViewerGrid::Host.
    Playback& gridPlayback() override { return *playback_; }
    void pauseTour() override { tour_.pause(); }
    void addShown(Playback::Shown& shown) override;
    // views.ini keeps the view the user arranged (never while a tour runs).
    void gridApplied(bool save) override;
    void tilesPlaced() override { texts_->followFramedTile(); }
    void framedMoved() override;   // the spot follows the framed camera

    // SingleViewHost.
    void fillVideoAreaBlack() override { view_.fillVideoAreaBlack(); }
    Rect videoAreaToScreen(const Rect& r) const override { return view_.videoAreaToScreen(r); }
    void moveVideoArea(const Rect& r, bool fullScreen) override
    {
        view_.moveVideoArea(r, fullScreen);
    }

    ViewerView& view_;
    // Declared before the devices that feed it: it outlives them.
    ViewerRecordings recordings_;
    std::unique_ptr<RecorderSessions> sessions_;   // outlives the devices that open over it
    std::unique_ptr<Playback> playback_;

    // User-interface thread.
    bool dialogWaiting_ = false;   // the dialog's login is on its way
    bool dialogOpen_ = false;
    bool restorePending_ = false;   // a login by hand succeeded: its list restores views.ini
    bool shutDown_ = false;
    std::u16string loginSettingsPath_;
    RememberedView remembered_;
    std::vector<RecorderList::Recorder> recorders_;          // login.ini's list as last followed
    std::vector<std::vector<std::u16string>> cameraNames_;   // by recorder
    std::u16string recoveryText_;
    ViewerGrid grid_;   // before the tour and the texts, which use its TileGrid
    ViewerTour tour_;
    std::unique_ptr<StatusTexts> texts_;   // made once playback_ is
    CameraId recordingNext_;               // a recording about to start: its stream switches first
    WallSet walls_;
};

}   // namespace kevra
