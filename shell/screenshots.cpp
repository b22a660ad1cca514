#include "shell/screenshots.h"

#include "display/display.h"
#include "host/file_io.h"
#include "shell/display_widget.h"
#include "shell/status_fields.h"
#include "shell/window_focus.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

Screenshots::Screenshots(QWidget* window, DisplayWidget* display, StatusFields* status)
    : QObject(window), window_(window), display_(display), status_(status) {}

// The picture as shown: at the display's factor, as PNG.
bool Screenshots::Write(const QString& path) {
    const QSize f = display_->AxisFactors();
    QImage picture = display_->Picture().scaled(FramePixels * f.width(), FrameLines * f.height(),
                                                Qt::IgnoreAspectRatio, Qt::FastTransformation);
    // Written as every output is: never over what is not a plain file.
    QByteArray png;
    QBuffer buffer(&png);
    const QByteArray name = QFile::encodeName(path);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) {
        errno = 0; // nothing the system said: the picture could not be made
        return false;
    }
    return WriteFileReplacing(name.constData(), png.constData(), size_t(png.size()));
}

// Why a screenshot could not be written at path, for the user; error is the errno of the failed
// write, taken before anything else could change it.
static QString ScreenshotProblem(const QString& path, int error) {
    const std::string refusal = OutputRefusal(QFile::encodeName(path).constData());
    if (!refusal.empty())
        return QString("Not writing the screenshot %1: it is %2, not a plain file")
            .arg(path, QString::fromStdString(refusal));
    return error ? QString("Cannot write the screenshot %1: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(error)))
                 : QString("Cannot write the screenshot %1").arg(path);
}

QString Screenshots::Folder() {
    QString pictures = qEnvironmentVariable("XDG_PICTURES_DIR");
    if (!QDir::isAbsolutePath(pictures))
        pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) pictures = QDir::homePath() + "/Pictures";
    return pictures + "/Lunabrik";
}

// F12: at once, into the pictures folder, under a name of the date and time that no file there
// has yet; the status bar says where it went, or why it could not.
void Screenshots::Save() {
    const QString folder = Folder();
    if (!QDir().mkpath(folder)) {
        status_->Notice(
            QString("Cannot save the screenshot: cannot make the folder %1").arg(folder));
        return;
    }
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd-HHmmss");
    QString path = QString("%1/lunabrik-%2.png").arg(folder, stamp);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QString("%1/lunabrik-%2-%3.png").arg(folder, stamp).arg(n);
    if (Write(path))
        status_->Notice(QString("Screenshot saved as %1").arg(path));
    else
        status_->Notice(ScreenshotProblem(path, errno));
}

// A name typed without an extension gets .png (the dialog asks before replacing that file too).
void Screenshots::SaveAs() {
    QFileDialog dialog(window_, "Save screenshot", Folder() + "/lunabrik.png",
                       "PNG images (*.png)");
    dialog.setObjectName("saveScreenshotDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("png");
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    ReturnFocus(display_);
    if (!chosen) return;
    QString path = dialog.selectedFiles().first();
    if (QFileInfo(path).suffix().isEmpty()) path += ".png"; // a dialog that ignored the suffix
    if (Write(path))
        status_->Notice(QString("Screenshot saved as %1").arg(path));
    else
        ShowProblem(window_, display_, ScreenshotProblem(path, errno) + ".");
}
