#pragma once

#include <QObject>

namespace limnoscope {

// The process-wide notifications through which menus, keys and the model ask the window to act.
// Posting a notification is emitting its signal; observers connect. Lives on the GUI thread.
class AppNotifications : public QObject
{
    Q_OBJECT

public:
    // Created on first use (with the application as parent) and kept until the application ends.
    [[nodiscard]] static AppNotifications* shared();

signals:
    void openFolderCommand();
    void deleteCurrentImage();
    void deleteSelectedImages();
    void deleteImmediately();
    void restoreFirstResponder();
    void tagsDidChange();

private:
    explicit AppNotifications(QObject* parent);
};

} // namespace limnoscope
