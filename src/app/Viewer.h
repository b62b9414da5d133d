// The viewer's coordinator: receives the device client's events, routes every login result to
// the attempt that asked for it (the login dialog or an automatic retry), decides what is shown
// (TileGrid: one camera, a grid, a tile alone) and has Playback run the streams, and runs the
// recovery of lost sessions and media connections. Tours (ViewerTour), recordings
// (ViewerRecordings), the remembered view (RememberedView) and the texts on screen
// (StatusTexts) are objects of their own it owns. Owned by the main window; tells the window
// what to show through ViewerView.
//
// Recorders: the first (recorder 0) is the login dialog's, on the device client given; the
// others of login.ini's list each have a RecorderSession (RecorderSessions). Cameras are named
// by CameraId {recorder, channel}; the tree and a growing grid list them in list order.
//
// Threads: the DeviceEvents calls arrive on the network thread and the SingleViewHost "any
// thread" calls on the frame-timer thread; both only post work to the user-interface thread
// (ViewerView::post). Everything else runs on the user-interface thread.
#pragma once
#include "app/DeviceStreamLink.h"
#include "app/Playback.h"
#include "app/PtzCode.h"
#include "app/RecoveryController.h"
#include "app/RecorderSessions.h"
#include "app/RecoveryHost.h"
#include "app/RememberedView.h"
#include "app/SingleViewHost.h"
#include "app/StatusTexts.h"
#include "app/TileGrid.h"
#include "app/ViewerRecordings.h"
#include "app/ViewerTour.h"
#include "app/WallSet.h"
#include "app/ViewerView.h"
#include "device/DeviceEvents.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kevra {

class DeviceClient;
class PictureSurface;
class TileSurface;

class Viewer : public DeviceEvents,
               private SingleViewHost,
               private RecoveryHost,
               private StatusTexts::Host {
public:
    // How long a playing camera may stay silent (not one byte on its media connection) before
    // it is treated as closed and reopened. A live camera sends several packets a second and a
    // key frame every few seconds; the stall mark shows after 3 s, and the session itself is
    // given up after 60 s of silence. 10 s leaves room for a recorder that briefly pauses a
    // stream and still brings a dead one back well before anyone gives up watching.
    static constexpr uint64_t kMediaSilenceMs = 10000;
    static constexpr int kLoginTimeoutMs = 10000;

    struct LoginRequest {
        std::string host;
        int port = 0;
        std::string user;
        std::string password;
        int timeoutMs = kLoginTimeoutMs;
    };
    using TileLabel = StatusTexts::TileLabel;
    // The picture Save picture takes: from the framed tile of a grid or from the single view
    // (turned: shown a quarter turned). camera is empty when nothing plays.
    struct SaveSource {
        bool tile = false;
        int position = -1;
        bool turned = false;
        std::u16string camera;
    };

    // devices makes one stream's device (default: over the client). The client, view and
    // surfaces must outlive the coordinator. recordingFolder: where clips go ("": the user's
    // videos folder); only the default devices feed recordings.
    Viewer(DeviceClient& client, ViewerView& view, PictureSurface& picture, TileSurface& tiles,
           Playback::DeviceFactory devices = {}, const std::string& recordingFolder = "");
    ~Viewer() override;   // shutdown()
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // Camera names of a list block: each ends at its first zero byte and the next starts two
    // bytes later; never reads past length, at most count names.
    static std::vector<std::u16string> splitNames(const uint8_t* block, int length, int count);

    // DeviceEvents (network thread): only posted to the user-interface thread.
    void onLogin(int code, int channelCount) override;
    void onList(int code, const uint8_t* block, int length, int count) override;
    void onChannel(int channel, int code) override;
    void onConnectionLost() override;
    void onChannelClosed(int channel) override;

    // Any thread: the status row says the text of this language key (unless a recovery is
    // being told there); in posting order.
    void postStatus(const std::u16string& key) override;

    // ---- User-interface thread ----
    // Opens the login dialog (one at a time); retries wait while it is open.
    void requestLogin();
    // The dialog's Login: the session so far ends and this login goes out; its result alone
    // goes back to the dialog.
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
    // Exit: the retries end and every stream stops (at the recorder too), timers joined.
    // Repeated calls do nothing more.
    void shutdown();

    // A camera chosen in the tree: into the framed tile of a grid, or the single view.
    void chooseCamera(CameraId camera);
    void chooseCamera(int channel) { chooseCamera(CameraId{0, channel}); }   // the first's
    void toggleFullScreen();
    void chooseLayout(int tiles);
    void cycleLayout();
    // A click on a tile frames it; true when the tile was framed already (the window then
    // switches full screen, unless a double click follows).
    bool clickTile(int position);
    // Double click: the tile's camera alone (its stream and every other keep running), and
    // back to the grid.
    void toggleTileZoom(int position);
    // Sends a PTZ code to the camera the panels drive (framed tile, else the one camera).
    void ptz(PtzCode code);
    // An arrow key (KeyTable::Left, Up, Right, Down); false when no camera is there to drive.
    bool arrowKey(int key);
    // R and the picture's menu: starts or stops recording the camera shown (the framed tile of
    // a grid, else the single view); the status row and the log say where the file goes.
    // False when no camera is shown.
    bool toggleRecording();
    // Whether the camera shown (as toggleRecording picks it) records: the menu's check mark.
    bool recordingShown() const { return recordings_.recording(shownCamera()); }
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
    bool gridShown() const { return grid_.layout() > 1; }
    bool gridFullScreen() const { return gridFull_; }
    CameraId ptzCamera() const;
    TileLabel tileLabel(int position) const { return texts_->tileLabel(position); }
    std::u16string videoNotice() const { return texts_->videoNotice(); }
    SaveSource saveSource() const;
    // Tells the coordinator the window's video area is shown (the single view draws then).
    void setVideoShown(bool shown);
    // Window layout: the single view's rectangles and a moved window.
    void setVideoRectangles(const Rect& normal, const Rect& fullScreen);
    void videoAreaMoved();
    bool pictureTurned() const { return !gridShown() && playback_->single().pictureTurned(); }
    // The camera of the single view (none: not valid; channel -1).
    CameraId singleCamera() const { return playback_->singleCamera(); }
    int singleChannel() const { return singleCamera().channel; }
    // The camera's name in its recorder's list ("camera 3" when the list has none for it).
    std::u16string cameraName(CameraId camera) const override;

    // Inspection.
    Playback& playback() { return *playback_; }
    const TileGrid& grid() const { return grid_; }
    RecoveryController& recovery() { return *recovery_; }
    RecordingController& recordings() { return recordings_.controller(); }
    RecorderSessions& otherRecorders() { return *otherRecorders_; }
    const std::vector<std::u16string>& cameraNames() const { return cameraNames_; }
    // The first recorder's tree node: its name and state.
    std::u16string firstRecorderState() const;
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
    enum class LoginBy { Dialog, Retry, Abandoned };

    // Posted work (user-interface thread).
    void loginResult(int code, int systemError);
    void camerasListed(int code, const std::vector<std::u16string>& names);
    void openResult(int channel, int code);
    void sessionLost();
    void channelClosed(int channel);
    void statusKey(const std::u16string& key);

    void loadStreamNumbers();
    void stopShown();
    // save: remember the grid in views.ini (never while a tour runs).
    void applyGrid(bool save = true);
    void markTreeImages();
    // The tree's cameras (every recorder's, in list order) to the grid; shown streams follow.
    void listCameras();
    void showFirstRecorder();
    void otherStreamReopen(CameraId camera);
    void otherStreamOpened(CameraId camera, int code);
    void placeTiles();
    void watchStreams();
    std::u16string wallsPath() const;
    void saveWalls();
    void resumeWallTours();
    // The walls' shown tiles (cameras listed only) for Playback, the spot following the framed
    // camera.
    void addWalls(Playback::Shown& shown);
    void pollWalls();
    void nameRecordersInLog(bool forget = false);
    static CameraId camera(int channel) { return CameraId{0, channel}; }
    // "camera 3", or "camera 3 of Shop" for another recorder's: for the log.
    std::string who(CameraId camera) const;
    // The camera R records: the framed tile's in a grid, else the single view's.
    CameraId shownCamera() const;

    // StatusTexts::Host.
    std::u16string recorderAway(CameraId camera) const override;
    std::u16string recoveryNote() const override { return recoveryText_; }
    std::u16string recordingMark(CameraId camera) const override
    {
        return recordings_.mark(camera);
    }

    // SingleViewHost.
    void fillVideoAreaBlack() override { view_.fillVideoAreaBlack(); }
    Rect videoAreaToScreen(const Rect& r) const override { return view_.videoAreaToScreen(r); }
    void moveVideoArea(const Rect& r, bool fullScreen) override
    {
        view_.moveVideoArea(r, fullScreen);
    }
    // RecoveryHost.
    void loginWithSavedSettings() override;
    void reopenShown() override;
    void reopenChannel(int channel) override;
    void showRecoveryText(const std::u16string& text) override;

    DeviceClient& client_;
    DeviceStreamLink link_{client_};   // the first recorder's streams
    ViewerView& view_;
    // Declared before the devices that feed it: it outlives them.
    ViewerRecordings recordings_;
    std::unique_ptr<Playback> playback_;
    std::unique_ptr<RecoveryController> recovery_;
    std::unique_ptr<RecorderSessions> otherRecorders_;
    std::atomic<int> systemError_{0};   // errno of the latest login's connect (network thread)

    // User-interface thread.
    std::deque<LoginBy> logins_;   // login requests sent, oldest first: results come in order
    bool dialogOpen_ = false;
    bool restorePending_ = false;   // a login by hand succeeded: its list restores views.ini
    bool shutDown_ = false;
    std::u16string loginSettingsPath_;
    RememberedView remembered_;
    std::vector<RecorderList::Recorder> recorders_;   // login.ini's list as last followed
    std::vector<std::u16string> cameraNames_;
    std::u16string recoveryText_;
    TileGrid grid_;
    ViewerTour tour_;
    std::unique_ptr<StatusTexts> texts_;   // made once playback_ is
    bool gridFull_ = false;
    CameraId recordingNext_;   // a recording about to start: its stream switches first
    WallSet walls_;
};

}   // namespace kevra
