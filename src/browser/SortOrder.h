#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace limnoscope {

// The four orders of the images inside a folder group, persisted by their raw values and shown
// by their localised display texts. Plain values; any thread.
class SortOrders
{
    Q_GADGET

public:
    enum class SortOrder { nameAscending, nameDescending, dateAscending, dateDescending };
    Q_ENUM(SortOrder)

    // In the order the sort menus offer them.
    [[nodiscard]] static QList<SortOrder> all();
    // "name_asc", "name_desc", "date_asc", "date_desc".
    [[nodiscard]] static QString rawValue(SortOrder order);
    // Nothing for any text that is not one of the four raw values.
    [[nodiscard]] static std::optional<SortOrder> fromRawValue(const QString& rawValue);
    // The localisation key of the display text ("sort_name_asc", ...).
    [[nodiscard]] static const char* displayKey(SortOrder order);
    [[nodiscard]] static QString displayText(SortOrder order);
};

using SortOrder = SortOrders::SortOrder;

} // namespace limnoscope
