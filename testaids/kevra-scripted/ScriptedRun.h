// Test-only hook of kevra-scripted (the viewer built with it; the shipped kevra has none): drives the main window through a script of user actions so the real program
// can be run end to end without a person (the viewer starts it only when KEVRA_TEST_ACTIONS names
// a script file). One action per line, each finishing before the next starts:
//   login HOST PORT USER PASSWORD   fill in the login dialog, press Login, wait for the tree
//   play INDEX                      choose camera INDEX (0-based), wait for the first picture
//   camera | full | exit | relogin  press that command (relogin: Login of the video bar)
//   cancel                          press Cancel in the login dialog
//   key left|up|right|down|1|4|9    press that key in the widget with the focus (alt+1 .. alt+9:
//                                   with Alt held)
//   layout                          press the layout control
//   tiles N                         wait until each of the first N tiles drew a picture
//   treecameras N                   wait until the camera tree lists N cameras (all recorders')
//   click N | dclick N              click / double click tile N of the grid
//   shot FILE                       save the window as it is drawn (PNG)
//   rate MS                         count each shown tile's pictures for MS milliseconds and
//                                   print "script: rate TILE PICTURES_PER_SECOND" per tile
//                                   (the walls' and the spot's tiles too: "script: rate wall1 TILE
//                                   N", "script: rate spot 0 N")
//   walltiles                       wait until every tile of every wall and the spot drew a picture
//   wait MS                         let the program run for MS milliseconds
//   waitpicture                     wait for a new picture
//   waitreconnect                   wait until a lost session came back by itself and drew a
//                                   new picture
// Progress goes to standard error ("script: ..."); an action other than "wait" that does not
// finish within 30 s ends the process at once with status 3. Throughout the run, a picture
// after at least a second without one is logged as "script: picture after N ms at T" (T:
// seconds since the epoch), the same for each tile ("script: tile P picture after N ms at T"),
// and a session recovered by itself as "script: reconnected". Owned
// by main; user-interface thread only.
#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <array>
#include <vector>

namespace kevra {

class MainWindow;

class ScriptedRun : public QObject {
    Q_OBJECT
public:
    static constexpr int kStepTimeoutMs = 30000;

    // Null when the variable is not set; ends the process (status 3) when the file is unreadable.
    static ScriptedRun* fromEnvironment(MainWindow& window);

private:
    ScriptedRun(MainWindow& window, QStringList lines, QString settingsPath);
    void step();
    // Starts the current action; true when it is already done.
    bool begin(const QStringList& words);
    // Whether the current action has finished.
    bool finished(const QStringList& words);
    [[noreturn]] void fail(const QString& why);
    // Logs picture gaps and recoveries (every step).
    void watch();

    static constexpr int kTiles = 16;
    MainWindow& window_;
    std::array<int, kTiles> tileSeen_{};
    std::array<QElapsedTimer, kTiles> tileSince_{};
    QStringList lines_;
    QString settingsPath_;
    int next_ = 0;
    bool started_ = false;
    int presentedAtStart_ = 0;
    std::vector<int> tileCounts_;
    struct WallCount {
        int wall, tile, count;   // wall 0: the spot
    };
    std::vector<WallCount> wallCounts_;
    QElapsedTimer clock_;
    QElapsedTimer sincePicture_;
    int presentedSeen_ = 0;
    bool wasRecovering_ = false;
    int reconnects_ = 0;             // sessions recovered by themselves so far
    int presentedAtReconnect_ = 0;   // pictures presented when the last one came back
    int reconnectsAtStart_ = 0;
    QTimer timer_;
};

}   // namespace kevra
