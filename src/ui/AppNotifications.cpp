#include "AppNotifications.h"

namespace limnoscope {

AppNotifications::AppNotifications(QObject* parent)
    : QObject(parent)
{
}

} // namespace limnoscope
