// The viewer's main window: title band, camera tree, video area with status line, bottom
// command bar and the PTZ and lens panels; owns the live view and its display surface, the
// multi-camera view (tile model, grid controller, tile area; MainWindowGrid.cpp) and
// receives the device client's events. Everything runs on the user-interface thread except
// the DeviceEvents calls (network thread) and the LiveViewHost "any thread" operations (frame
// timer), which only post events to this window or use the surface's own lock.
#pragma once
#include "app/LiveView.h"
#include "app/LiveViewHost.h"
#include "app/MainLayout.h"
#include "app/TileGrid.h"
#include "app/RecoveryController.h"
#include "app/StallDetector.h"
#include "device/DeviceEvents.h"
#include "ui/TileView.h"

#include <QDialog>
#include <QEvent>
#include <QIcon>
#include <QPixmap>
#include <QPointer>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QShortcut;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace kevra {

class BitmapButton;
class LoginDialog;
class DeviceClient;
class DisplaySurface;
class GridView;
class LiveViewDevice;
class VideoArea;

class MainWindow : public QDialog, public DeviceEvents, public LiveViewHost, private RecoveryHost {
    Q_OBJECT
public:
    // Command and control ids.
    enum {
        IDC_TREE = 1009,
        IDC_VIDEO = 1011,
        ID_LOGIN = 1124,
        ID_CAMERA = 1125,
        ID_FULL = 1126,
        ID_ABOUT = 1127,
        ID_EXIT = 1128,
        ID_DIR_LEFT = 1129,
        ID_DIR_RIGHT = 1130,
        ID_LENS_LEFT = 1131,
        ID_LENS_RIGHT = 1132,
        ID_DIR_LABEL = 1133,
        ID_LENS_LABEL = 1134,
        IDC_STATUS = 1135,
        ID_BACK = 1136,
        ID_LAYOUT = 1137
    };
    // Messages posted to this window (handled in arrival order).
    enum : int {
        WM_DEVICE_LOST = QEvent::User + 200,
        WM_LOGIN_RESULT = QEvent::User + 201,
        WM_OPEN_RESULT = QEvent::User + 202,
        WM_CAMERA_LIST = QEvent::User + 210,
        WM_STATUS_TEXT = QEvent::User + 211,
        WM_CHANNEL_CLOSED = QEvent::User + 212
    };
    // How often the recovery schedules and the notice over the picture are looked at.
    static constexpr int kRecoveryPollMs = 250;

    // device: what the live view drives (by default a ClientLiveViewDevice over the client,
    // owned by the window); forcedDepth for tests (0 = the screen's depth). The client must
    // outlive the window.
    explicit MainWindow(DeviceClient& client, LiveViewDevice* device = nullptr,
                        int forcedDepth = 0);
    ~MainWindow() override;   // stopShow(), then the parts go

    // Ends the live view in order: frame timer cancelled, channel stopped, decoder thread
    // joined. Called on EXIT and Login -> Cancel, and by the destructor; repeated calls do nothing.
    void stopShow();
    // The live view's device, e.g. to inspect the decoder of the channel shown.
    LiveViewDevice& device() { return *device_; }

    // DeviceEvents (network thread): only post to this window.
    void onLogin(int code, int channelCount) override;
    void onList(int code, const uint8_t* block, int length, int count) override;
    void onChannel(int channel, int code) override;
    void onConnectionLost() override;
    void onChannelClosed(int channel) override;

    // LiveViewHost.
    void postStatus(const std::u16string& key) override;
    void fillVideoAreaBlack() override;
    Rect videoAreaToScreen(const Rect& r) const override;
    void showVideoMode() override;
    void setItemImage(uintptr_t item, int image) override;
    void moveVideoArea(const Rect& r) override;
    void connectionLost() override;

    // Camera names of a list block: each ends at its first zero byte and the next starts two
    // bytes later; never reads past length, at most count names.
    static std::vector<std::u16string> splitNames(const uint8_t* block, int length, int count);

    void runLoginSequence();
    void showTreeMode();
    void toggleFullScreen();
    void showAbout();
    void command(int id);
    // Saves the open camera's picture as shown (see PictureSaver) into folder (empty: the
    // pictures folder) and says where in the status line; returns the file, empty when none.
    QString savePicture(const QString& folder = QString());

    // After the session came back by itself: opens again what was shown (the camera chosen
    // before the loss, found by its channel in the new camera list).
    void reopenWhatWasShown();

    // Inspection (tests and screenshots).
    LiveView& liveView() { return *liveView_; }
    RecoveryController& recovery() { return *recovery_; }
    // The notice drawn over the picture now (a stalled picture; the recovery in full screen).
    QString videoNotice() const;
    // The note drawn over a tile now (a picture that stopped), empty when none.
    QString tileNote(int position) const
    {
        return position >= 0 && position < TileGrid::kMaxTiles ? tileNotes_[size_t(position)]
                                                               : QString();
    }
    LoginDialog* loginDialog() const { return loginDialog_; }
    QTreeWidget* tree() const { return tree_; }
    VideoArea* videoArea() const { return video_; }
    QLabel* statusLine() const { return status_; }
    DisplaySurface& surface() { return *surface_; }
    BitmapButton* button(int id) const;
    BitmapButton* treeExitButton() const { return treeExit_; }
    const MainLayout::Result& layoutValues() const { return layout_; }
    int directionMode() const { return directionMode_; }
    int lensMode() const { return lensMode_; }
    bool isVideoMode() const;
    // Handles an arrow key as the window does before dispatching it; true when a command went out.
    bool handleArrowKey(int qtKey);

    // ---- Multi-camera view (MainWindowGrid.cpp) ----
    TileGrid& grid() { return grid_; }
    GridView& gridView() { return *gridView_; }
    TileView* tileView() const { return tileView_; }
    BitmapButton* layoutButton() const { return layoutBtn_; }
    // True while several tiles are shown (the one-tile view runs through liveView()).
    bool gridShown() const { return grid_.shownTiles() > 1; }
    bool gridFullScreen() const { return gridFull_; }
    // Layout of 1, 4, 9 or 16 tiles; the layout control cycles them.
    void chooseLayout(int tiles);
    void cycleLayout();
    // Click on a tile: selects it; a click on the selected tile toggles full screen.
    void clickTile(int position);
    // Double click: the tile's camera alone, and back to the grid.
    void toggleTileZoom(int position);
    // Hook for an extra line drawn in a tile (e.g. how long no picture came); empty clears it.
    void setTileNote(int position, const QString& note);
    // Keys 1, 4 and 9 choose the layout; true when the key was one of them.
    bool handleLayoutKey(int qtKey, Qt::KeyboardModifiers modifiers);
    // Channel the PTZ panels and arrow keys drive: the selected tile's in a grid, else the
    // one-camera view's; -1 for none.
    int ptzChannel() const;

signals:
    void loginSequenceFinished(bool cancelled);

public slots:
    // The platform's confirm key does not close the window; its cancel request (window
    // close) does what EXIT does.
    void accept() override {}
    void reject() override { command(ID_EXIT); }

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    class PostedMessage;
    class CameraListMessage;
    class StatusMessage;

    BitmapButton* makeButton(int id, const char16_t* captionKey);
    void layOut();
    void fillTree(const std::vector<std::u16string>& names);
    void onTreeClick(QTreeWidgetItem* item);
    void setVideoGroupVisible(bool visible);
    void setTreeGroupVisible(bool visible);
    void updateVideoOrigin();
    void finishLogin(LoginDialog* dlg);
    void sendPtz(int code);
    void showPictureMenu(const QPoint& globalPos);
    QTreeWidgetItem* findItem(uintptr_t handle) const;

    // ---- Multi-camera view (MainWindowGrid.cpp) ----
    void gridCreate();
    void gridApply();
    void gridLoggedIn(const LoginDialog& dlg);
    void gridCamerasListed(const std::vector<std::u16string>& names);
    void gridConnectionLost();
    // A camera chosen in the tree goes into the selected tile; false when the one-camera view
    // is to open it.
    bool gridChooseCamera(int channel);
    void gridSave();
    void gridPlace();
    void gridTreeImages();
    void gridStop();
    TileView::Label describeTile(int position);
    QTreeWidgetItem* itemOfChannel(int channel) const;

    // Automatic recovery (MainWindowRecovery.cpp).
    void setUpRecovery();
    void tearDownRecovery();
    // A lost session with automatic reconnection on: the view waits, the retries begin.
    // False when it is off (the message box and login dialog follow).
    bool recoverSessionLoss();
    void pollRecovery();
    void markStalledTiles();
    // RecoveryHost.
    void loginWithSavedSettings() override;
    void reopenShown() override { reopenWhatWasShown(); }
    void reopenChannel(int channel) override;
    void showRecoveryText(const std::u16string& text) override;
    void onLoginDialogOpened();
    void onLoginDialogFinished(bool cancelled, const std::u16string& settingsPath);
    std::unique_ptr<RecoveryController> recovery_;
    QTimer* recoveryTimer_ = nullptr;
    std::u16string loginSettingsPath_;   // login.ini of the last login dialog
    QString recoveryText_;
    QString shownNotice_;

    DeviceClient& client_;
    std::unique_ptr<LiveViewDevice> ownDevice_;
    LiveViewDevice* device_;
    VideoArea* video_ = nullptr;
    std::unique_ptr<DisplaySurface> surface_;
    std::unique_ptr<LiveView> liveView_;

    QTreeWidget* tree_ = nullptr;
    QLabel* status_ = nullptr;
    std::vector<BitmapButton*> videoBar_;   // login, camera, full, about, exit
    BitmapButton* back_ = nullptr;
    BitmapButton* treeExit_ = nullptr;
    BitmapButton* dirLeft_ = nullptr;
    BitmapButton* dirRight_ = nullptr;
    BitmapButton* lensLeft_ = nullptr;
    BitmapButton* lensRight_ = nullptr;
    BitmapButton* dirLabel_ = nullptr;
    BitmapButton* lensLabel_ = nullptr;
    QShortcut* saveKey_ = nullptr;   // S: save the picture (video mode only)
    QIcon images_[3];                // recorder, open camera, idle camera
    QPixmap band_;
    MainLayout::Result layout_;

    int directionMode_ = 0;
    int lensMode_ = 0;
    bool initialised_ = false;
    bool loginStarted_ = false;
    LoginDialog* loginDialog_ = nullptr;
    uintptr_t nextItemHandle_ = 1;
    std::atomic<int> loginSystemError_{0};   // errno of the latest login's connect
    std::atomic<int> videoX_{0};
    std::atomic<int> videoY_{0};

    // ---- Multi-camera view ----
    TileGrid grid_;
    TileView* tileView_ = nullptr;
    std::unique_ptr<GridView> gridView_;
    BitmapButton* layoutBtn_ = nullptr;
    bool gridFull_ = false;
    QTimer* gridFullTimer_ = nullptr;   // a click on the framed tile, unless a double click follows
    std::u16string viewsPath_;          // views.ini beside the login settings
    std::u16string recorderName_;       // the recorder logged in to, as views.ini names it
    std::vector<std::u16string> cameraNames_;
    std::array<QString, TileGrid::kMaxTiles> tileNotes_;
    // A stalled tile is noticed per position: its channel, pictures drawn, time without one.
    struct TileWatch {
        int channel = -1;
        int presented = 0;
        StallDetector stall;
    };
    std::array<TileWatch, TileGrid::kMaxTiles> tileWatch_;
};

}   // namespace kevra
