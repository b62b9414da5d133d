// The viewer's main window, a view of the viewer coordinator (Viewer): title band, camera tree
// (CameraTree), video area with status row (StatusRow), tile area, bottom command bar and the
// PTZ and lens panels. It owns its widgets, the display surface, the key dispatch (KeyDispatch),
// the login dialog's life (LoginSequence) and the coordinator, turns its buttons and dialogs into
// the coordinator's commands and shows what the coordinator tells it (ViewerView). Everything
// runs on the user-interface thread except post(), fillVideoAreaBlack() and videoAreaToScreen(),
// which the coordinator calls from the network and frame-timer threads: they only post events
// to this window or use the surface's own lock and atomics.
#pragma once
#include "app/DigitalZoom.h"
#include "app/MainLayout.h"
#include "ui/CameraTree.h"
#include "ui/KeyDispatch.h"
#include "ui/LoginSequence.h"
#include "ui/PtzButtons.h"
#include "ui/StatusRow.h"
#include "app/TileGrid.h"
#include "app/Viewer.h"
#include "app/ViewerView.h"
#include "profile/ViewerSettings.h"
#include "ui/TileView.h"

#include <QDialog>
#include <QPixmap>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QTimer;
class QTreeWidget;

namespace kevra {

class BitmapButton;
class LoginDialog;
class DisplaySurface;
class HelpOverlay;
class VideoArea;
class WallScreens;

class MainWindow : public QDialog, private ViewerView {
    Q_OBJECT
public:
    // Commands of the buttons.
    enum Command {
        LoginCommand = 1,
        CameraCommand,
        FullCommand,
        AboutCommand,
        ExitCommand,
        DirLeftCommand,
        DirRightCommand,
        LensLeftCommand,
        LensRightCommand,
        DirLabelCommand,
        LensLabelCommand,
        BackCommand,
        LayoutCommand
    };

    // devices makes each stream's device (default: over its recorder's session); forcedDepth
    // for tests (0 = the screen's depth).
    explicit MainWindow(Playback::DeviceFactory devices = {}, int forcedDepth = 0);
    ~MainWindow() override;

    // Ends every stream in order: frame timers cancelled, channels stopped, decoder threads
    // joined. Called on Exit and a cancelled login, and by the destructor; repeats do nothing.
    void stopShow();

    // Login, the key and the start: an open login dialog comes to the front, else a login begins.
    void runLoginSequence() { login_->request(); }
    void showTreeMode() override;
    void showVideoMode() override;
    void toggleFullScreen();
    void showAbout();
    // F10 and the picture's menu: the Settings dialog; what the user chose is written to
    // login.ini and views.ini and applied at once (the language at the next start).
    void openSettings();
    // Applies settings read from or chosen for login.ini (folders, reconnection).
    void applySettings(const ViewerSettings& s);
    void command(int id);
    // Saves the picture shown (the framed tile's in a grid; see PictureSaver) into folder
    // (empty: the pictures folder) and says where in the status row; returns the file, empty
    // when none.
    QString savePicture(const QString& folder = QString());

    // Inspection (tests, scripted runs and screenshots).
    Viewer& viewer() { return *viewer_; }
    WallScreens& wallScreens() { return *walls_; }
    Playback& playback() { return viewer_->playback(); }
    bool recovering() const { return viewer_->recovering(); }
    QString videoNotice() const;
    QString tileNote(int position) { return tileLabel(position).note; }
    LoginDialog* loginDialog() const { return login_->dialog(); }
    QTreeWidget* tree() const { return tree_; }
    CameraTree* cameraTree() const { return tree_; }
    VideoArea* videoArea() const { return video_; }
    QLabel* statusLine() const { return status_; }
    DisplaySurface& surface() { return *surface_; }
    BitmapButton* button(int id) const;
    BitmapButton* treeExitButton() const { return treeExit_; }
    const MainLayout::Result& layoutValues() const { return layout_; }
    int directionMode() const { return ptz_->directionMode(); }
    int lensMode() const { return ptz_->lensMode(); }
    bool isVideoMode() const;
    // An arrow key as the camera-move keys take it; true when a command went out.
    bool handleArrowKey(int qtKey) { return keys_->arrowKey(qtKey); }
    KeyDispatch& keys() { return *keys_; }
    HelpOverlay* helpOverlay() const { return help_; }
    const PtzHold& ptzHold() const { return keys_->hold(); }
    // The digital zoom of the one-camera view (back to the whole picture for another camera),
    // and the framed tile's.
    DigitalZoom& zoom() { return zoom_; }
    DigitalZoom& tileZoom() { return tileZoom_; }

    // Multi-camera view.
    const TileGrid& grid() const { return viewer_->grid(); }
    TileView* tileView() const { return tileView_; }
    BitmapButton* layoutButton() const { return layoutBtn_; }
    bool gridShown() const { return viewer_->gridShown(); }
    bool gridFullScreen() const { return viewer_->gridFullScreen(); }
    void chooseLayout(int tiles) { viewer_->chooseLayout(tiles); }
    void cycleLayout() { viewer_->cycleLayout(); }
    void clickTile(int position);
    void toggleTileZoom(int position);

public slots:
    // The platform's confirm key does not close the window; its cancel request (window
    // close) does what Exit does.
    void accept() override {}
    void reject() override { command(ExitCommand); }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // ViewerView.
    void post(std::function<void()> work) override;
    void setCameraShown(CameraId camera, bool shown) override;
    bool videoMode() const override { return isVideoMode(); }
    void showStatus(const std::u16string& text) override;
    void showTiles(int count, int selected, bool fullScreen) override;
    void refreshTiles() override;
    void refreshNotice() override;
    void fillVideoAreaBlack() override;
    Rect videoAreaToScreen(const Rect& r) const override;
    void moveVideoArea(const Rect& r, bool fullScreen) override;
    void openLoginDialog() override { login_->open(); }
    void loginDialogResult(int code, int systemError) override
    {
        login_->result(code, systemError);
    }
    void showConnectionLost() override;
    void showError(const std::u16string& text) override;
    void endProgram() override;
    void showRecorders(const std::vector<RecorderNode>& nodes) override;

    BitmapButton* makeButton(int id, const char16_t* captionKey);
    void layOut();
    void placeTiles();
    // The recorder list dialog; its changes are followed at once.
    void editRecorderList();
    void setVideoGroupVisible(bool visible);
    void setTreeGroupVisible(bool visible);
    void updateVideoOrigin();
    TileView::Label tileLabel(int position);

    VideoArea* video_ = nullptr;
    std::unique_ptr<DisplaySurface> surface_;
    TileView* tileView_ = nullptr;
    std::unique_ptr<Viewer> viewer_;
    // After viewer_: its windows are detached and closed before the viewer goes.
    std::unique_ptr<WallScreens> walls_;
    std::unique_ptr<LoginSequence> login_;   // after viewer_: gone before it

    CameraTree* tree_ = nullptr;
    StatusRow* status_ = nullptr;
    std::vector<BitmapButton*> videoBar_;   // login, camera, full, about, exit
    BitmapButton* back_ = nullptr;
    BitmapButton* treeExit_ = nullptr;
    std::unique_ptr<PtzButtons> ptz_;
    BitmapButton* layoutBtn_ = nullptr;
    HelpOverlay* help_ = nullptr;
    KeyDispatch* keys_ = nullptr;
    DigitalZoom zoom_;
    CameraId zoomCamera_;    // the camera the zoom was set on
    DigitalZoom tileZoom_;   // the framed tile's
    CameraId tileZoomCamera_;
    QPixmap band_;
    MainLayout::Result layout_;
    QTimer* pollTimer_ = nullptr;   // the coordinator's poll
    QTimer* fullTimer_ = nullptr;   // a click on the framed tile, unless a double click follows
    QString pictureFolder_;         // where pictures go (empty: the pictures folder)

    bool initialised_ = false;
    bool loginStarted_ = false;
    int tileCount_ = 0;   // tiles shown (0: the one-camera video area)
    bool tilesFull_ = false;
    std::atomic<int> videoX_{0};
    std::atomic<int> videoY_{0};
};

}   // namespace kevra
