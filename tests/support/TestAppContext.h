#pragma once

#include "AppContext.h"
#include "AppNotifications.h"
#include "ThumbnailCache.h"
#include "ThumbnailSemaphore.h"

namespace limnoscope::test {

// What the application hands its window, owned by one test: its own notifications, thumbnail
// gate and cache (at their default limits) around the test's model and API service. Declare it
// before the views that are given `context`.
struct TestAppContext {
    TestAppContext(ImageBrowserModel* model, LimnoraAPIService* api)
    {
        context.model = model;
        context.api = api;
        context.notifications = &notifications;
        context.thumbnailGate = &gate;
        context.thumbnailCache = &cache;
    }

    AppNotifications notifications;
    ThumbnailSemaphore gate;
    ThumbnailCache cache;
    AppContext context;
};

} // namespace limnoscope::test
