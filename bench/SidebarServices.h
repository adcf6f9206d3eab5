#pragma once

// The services a sidebar needs beside its model, made once and handed to every sidebar a
// benchmark opens: an API service that finds nobody, the notifications, the thumbnail gate and
// the thumbnail cache.

#include "AppContext.h"
#include "AppNotifications.h"
#include "BenchSupport.h"
#include "LimnoraAPI.h"
#include "ThumbnailCache.h"
#include "ThumbnailSemaphore.h"

namespace limnoscope::bench {

struct SidebarServices {
    LimnoraAPIService api { closedPort() };
    AppNotifications notifications;
    ThumbnailSemaphore gate;
    ThumbnailCache cache;

    // The context of a sidebar showing `model`.
    [[nodiscard]] AppContext contextFor(ImageBrowserModel* model)
    {
        AppContext context;
        context.model = model;
        context.api = &api;
        context.notifications = &notifications;
        context.thumbnailGate = &gate;
        context.thumbnailCache = &cache;
        return context;
    }
};

} // namespace limnoscope::bench
