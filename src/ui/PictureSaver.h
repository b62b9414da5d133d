// Saves the picture on screen as a PNG file named after the camera, the date and the time
// ("Lobby_2026-12-07_17-52-03.png") in the user's pictures folder, or the home folder when
// there is none. No state; user-interface thread (Qt's image writer and standard paths).
#pragma once
#include <QDateTime>
#include <QImage>
#include <QString>

namespace kevra {

class PictureSaver {
public:
    struct Result {
        bool saved = false;
        QString path;    // the file written, or the one that could not be written
        QString error;   // the image writer's reason when not saved
    };

    // The folder pictures go to: the pictures folder, else home. Nothing is made here.
    static QString folder();
    // "Lobby_2026-12-07_17-52-03.png"; characters that do not belong in a file name become
    // '_', and a camera without a usable name is called "camera".
    static QString fileName(const QString& camera, const QDateTime& when);
    // The presented picture as the camera sees it: a picture shown turned a quarter clockwise
    // is turned back.
    static QImage upright(const QImage& shown, bool turned);
    // Writes the picture into folder (made when missing) under fileName(camera, when); an
    // existing file of that name gets "_2", "_3", ... added rather than being replaced.
    static Result save(const QImage& picture, const QString& camera, const QString& folder,
                       const QDateTime& when = QDateTime::currentDateTime());
};

}   // namespace kevra
