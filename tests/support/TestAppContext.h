#pragma once

#include "AppContext.h"
#include "AppNotifications.h"
#include "TagContextMenu.h"
#include "ThumbnailCache.h"
#include "ThumbnailSemaphore.h"
#include "ThumbnailStore.h"

#include <QTemporaryDir>

namespace limnoscope::test {

// What the application hands its window, owned by one test: its own notifications, thumbnail
// gate and cache (at their default limits) and tag worker around the test's model and API
// service. Declare it
// before the views that are given `context`.
struct TestAppContext {
    TestAppContext(ImageBrowserModel* model, LimnoraAPIService* api)
    {
        context.model = model;
        context.api = api;
        context.notifications = &notifications;
        context.thumbnailGate = &gate;
        context.thumbnailCache = &cache;
        context.thumbnailStore = &store;
        context.tagWorker = &tagWorker;
    }

    AppNotifications notifications;
    ThumbnailSemaphore gate;
    ThumbnailCache cache;
    QTemporaryDir thumbnailFolder;
    ThumbnailStore store { thumbnailFolder.path() }; // never the user's thumbnails
    TagWorker tagWorker;
    AppContext context;
};

} // namespace limnoscope::test
