#pragma once

#include "SortOrder.h"

#include <QToolButton>

namespace limnoscope {

class ImageBrowserModel;

// The sidebar header's sort menu: a flat button whose icon shows the current order, opening a
// menu of the four orders with a check mark beside the current one. GUI thread.
class SortMenuButton : public QToolButton
{
    Q_OBJECT

public:
    explicit SortMenuButton(ImageBrowserModel* browser, QWidget* parent = nullptr);

    // "textformat.abc" for the name orders, "calendar.badge.plus" / "calendar.badge.minus" for
    // the date orders.
    [[nodiscard]] static const char* iconName(SortOrder order);

private:
    void showSortOrder();

    ImageBrowserModel* m_browser;
};

} // namespace limnoscope
