#include "ui/PictureSaver.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QStandardPaths>
#include <QTransform>

namespace kevra {

QString PictureSaver::folder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return pictures.isEmpty() ? QDir::homePath() : pictures;
}

QString PictureSaver::fileName(const QString& camera, const QDateTime& when)
{
    QString name;
    for (QChar c : camera.trimmed()) {
        const bool bad =
            c.unicode() < 0x20 || c == QChar(0x7F) || QStringLiteral("/\\:*?\"<>|").contains(c);
        name += bad ? QChar('_') : c;
    }
    if (name.isEmpty() || name.startsWith('.'))
        name.prepend(QStringLiteral("camera"));
    name.truncate(64);   // camera names come from the recorder: keep the file name sane
    return name + QLatin1Char('_') + when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) +
           QStringLiteral(".png");
}

QImage PictureSaver::upright(const QImage& shown, bool turned)
{
    if (!turned || shown.isNull())
        return shown;
    return shown.transformed(QTransform().rotate(-90));   // a quarter anticlockwise
}

PictureSaver::Result PictureSaver::save(const QImage& picture, const QString& camera,
                                        const QString& folder, const QDateTime& when)
{
    Result r;
    const QString base = fileName(camera, when);
    const QDir dir(folder);
    r.path = dir.filePath(base);
    for (int n = 2; QFileInfo::exists(r.path) && n < 1000; ++n)
        r.path = dir.filePath(base.chopped(4) + QLatin1Char('_') + QString::number(n) +
                              QStringLiteral(".png"));
    if (picture.isNull()) {
        r.error = QStringLiteral("no picture");
        return r;
    }
    QDir().mkpath(folder);   // made only now that a picture goes into it
    QImageWriter writer(r.path, "png");
    // 16-bit pixels widen to 8 bits a channel; 32-bit "RGB32" pixels are saved without alpha.
    r.saved = writer.write(picture.convertToFormat(QImage::Format_RGB888));
    if (!r.saved)
        r.error = writer.errorString();
    return r;
}

}   // namespace kevra
