#include "AppNotifications.h"

#include <QCoreApplication>

namespace limnoscope {

AppNotifications::AppNotifications(QObject* parent)
    : QObject(parent)
{
}

AppNotifications* AppNotifications::shared()
{
    static AppNotifications* const instance = new AppNotifications(QCoreApplication::instance());
    return instance;
}

} // namespace limnoscope
