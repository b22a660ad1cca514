// Pictures of the screen as shown: F12 saves one at once into the user's pictures folder, Save
// screenshot as asks where.
#pragma once

#include "system/files.h"

#include <QObject>
#include <QString>

class DisplayWidget;
class StatusFields;
class QWidget;

class Screenshots : public QObject {
  public:
    Screenshots(QWidget* window, DisplayWidget* display, StatusFields* status);

    // Into ScreenshotFolder() with a time-stamped name; the status bar names the file or the
    // problem.
    void Save();
    void SaveAs();
    // XDG_PICTURES_DIR, else ~/Pictures, under Lunabrik/.
    static QString Folder();

  private:
    // The picture as shown into path; false with problem_ saying why.
    bool Write(const QString& path);
    QString Problem(const QString& path) const;

    QWidget* window_;
    DisplayWidget* display_;
    StatusFields* status_;
    OutputResult problem_; // of the last write
};
