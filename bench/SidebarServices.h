#pragma once

// The services a sidebar needs beside its model, made once and handed to every sidebar a
// benchmark opens: an API service that finds nobody, the notifications, the thumbnail gate, the
// thumbnail cache and the tag worker.

#include "AppContext.h"
#include "AppNotifications.h"
#include "BenchSupport.h"
#include "LimnoraAPI.h"
#include "TagContextMenu.h"
#include "ThumbnailCache.h"
#include "ThumbnailSemaphore.h"

namespace limnoscope::bench {

struct SidebarServices {
    LimnoraAPIService api { closedPort() };
    AppNotifications notifications;
    ThumbnailSemaphore gate;
    ThumbnailCache cache;
    TagWorker tagWorker;

    // The context of a sidebar showing `model`.
    [[nodiscard]] AppContext contextFor(ImageBrowserModel* model)
    {
        AppContext context;
        context.model = model;
        context.api = &api;
        context.notifications = &notifications;
        context.thumbnailGate = &gate;
        context.thumbnailCache = &cache;
        context.tagWorker = &tagWorker;
        return context;
    }
};

} // namespace limnoscope::bench
