#pragma once

#include <QPointer>

class QThreadPool;

namespace limnoscope {

class ActionTable;
class AppNotifications;
class ImageBrowserModel;
class LimnoraAPIService;
class QuickLookPanel;
class ThumbnailCache;
class ThumbnailSemaphore;
class ThumbnailStore;

// The services the window's parts share, made and owned by the application (or by a test) and
// handed down to every view that needs one, so that no view looks a service up process-wide.
// A value of pointers that outlive the views holding it; GUI thread.
struct AppContext {
    ImageBrowserModel* model = nullptr;
    LimnoraAPIService* api = nullptr;
    // The notifications through which menus, keys and lists ask the window to act.
    AppNotifications* notifications = nullptr;
    ThumbnailSemaphore* thumbnailGate = nullptr;
    ThumbnailCache* thumbnailCache = nullptr;
    // The thumbnails shared on disk behind the sidebar's decodes; null decodes every time.
    const ThumbnailStore* thumbnailStore = nullptr;
    // The one thread of the tag readings and changes made from menus and keys.
    QThreadPool* tagWorker = nullptr; // a TagWorker
    // The window's Quick Look panel, once the window made it; null without one.
    QPointer<QuickLookPanel> quickLook;
    // The window's commands with their shortcuts, once the window made them; null without.
    QPointer<ActionTable> actions;
};

} // namespace limnoscope
