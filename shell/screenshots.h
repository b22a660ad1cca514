// Pictures of the screen as shown: F12 saves one at once into the user's pictures folder, Save
// screenshot as asks where.
#pragma once

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
    bool Write(const QString& path);

    QWidget* window_;
    DisplayWidget* display_;
    StatusFields* status_;
};
