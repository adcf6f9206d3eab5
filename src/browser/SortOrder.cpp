#include "SortOrder.h"

namespace limnoscope {

QList<SortOrder> SortOrders::all()
{
    return { SortOrder::nameAscending, SortOrder::nameDescending, SortOrder::dateAscending, SortOrder::dateDescending };
}

QString SortOrders::rawValue(SortOrder order)
{
    switch (order) {
    case SortOrder::nameAscending:
        return QStringLiteral("name_asc");
    case SortOrder::nameDescending:
        return QStringLiteral("name_desc");
    case SortOrder::dateAscending:
        return QStringLiteral("date_asc");
    case SortOrder::dateDescending:
        return QStringLiteral("date_desc");
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<SortOrder> SortOrders::fromRawValue(const QString& rawValue)
{
    for (const SortOrder order : all()) {
        if (SortOrders::rawValue(order) == rawValue)
            return order;
    }
    return std::nullopt;
}

const char* SortOrders::displayKey(SortOrder order)
{
    switch (order) {
    case SortOrder::nameAscending:
        return QT_TRID_NOOP("sort_name_asc");
    case SortOrder::nameDescending:
        return QT_TRID_NOOP("sort_name_desc");
    case SortOrder::dateAscending:
        return QT_TRID_NOOP("sort_date_asc");
    case SortOrder::dateDescending:
        return QT_TRID_NOOP("sort_date_desc");
    }
    Q_UNREACHABLE();
    return nullptr;
}

QString SortOrders::displayText(SortOrder order)
{
    return qtTrId(displayKey(order));
}

} // namespace limnoscope
