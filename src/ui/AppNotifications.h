#pragma once

#include <QObject>

namespace limnoscope {

// The notifications through which menus, keys and lists ask the window to act. The application
// makes one and hands it to every view (`AppContext`). Posting a notification is emitting its
// signal; observers connect. Lives on the GUI thread.
class AppNotifications : public QObject
{
    Q_OBJECT

public:
    explicit AppNotifications(QObject* parent = nullptr);

signals:
    void openFolderCommand();
    void deleteCurrentImage();
    void deleteSelectedImages();
    void deleteImmediately();
    // The key sink takes the keyboard back a moment later (a confirmation closed).
    void restoreFirstResponder();
    void tagsDidChange();
};

} // namespace limnoscope
