#include "shell/screenshots.h"

#include "shell/display_widget.h"
#include "shell/status_fields.h"
#include "shell/window_focus.h"
#include "system/files.h"
#include "system/system.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

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
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) {
        problem_ = {}; // nothing the system said: the picture could not be made
        return false;
    }
    problem_ =
        SystemWriteFile(QFile::encodeName(path).toStdString(), png.constData(), size_t(png.size()));
    return problem_.ok;
}

// Why the last screenshot could not be written at path, for the user.
QString Screenshots::Problem(const QString& path) const {
    QString text = QString::fromLocal8Bit(
        problem_.Problem("the screenshot " + QFile::encodeName(path).toStdString()).c_str());
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return text;
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
        status_->Notice(Problem(path));
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
        ShowProblem(window_, display_, Problem(path) + ".");
}
