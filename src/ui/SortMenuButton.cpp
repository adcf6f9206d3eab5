#include "SortMenuButton.h"

#include "Icons.h"
#include "ImageBrowserModel.h"
#include <QMenu>

namespace limnoscope {

SortMenuButton::SortMenuButton(ImageBrowserModel* browser, QWidget* parent)
    : QToolButton(parent)
    , m_browser(browser)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setPopupMode(InstantPopup);
    setToolTip(qtTrId("menu_sort"));
    setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
    auto* menu = new QMenu(this);
    for (const SortOrder order : SortOrders::all()) {
        QAction* action
            = menu->addAction(SortOrders::displayText(order), this, [this, order] { m_browser->setSortOrder(order); });
        action->setData(QVariant::fromValue(order));
        action->setIconVisibleInMenu(true);
    }
    setMenu(menu);
    connect(browser, &ImageBrowserModel::sortOrderChanged, this, &SortMenuButton::showSortOrder);
    showSortOrder();
}

const char* SortMenuButton::iconName(SortOrder order)
{
    switch (order) {
    case SortOrder::dateAscending:
        return "calendar.badge.plus";
    case SortOrder::dateDescending:
        return "calendar.badge.minus";
    case SortOrder::nameAscending:
    case SortOrder::nameDescending:
        break;
    }
    return "textformat.abc";
}

void SortMenuButton::showSortOrder()
{
    const SortOrder current = m_browser->sortOrder();
    setIcon(symbolIcon(iconName(current)));
    for (QAction* action : menu()->actions()) {
        const bool isCurrent = action->data().value<SortOrder>() == current;
        action->setIcon(isCurrent ? symbolIcon("checkmark") : QIcon());
    }
}

} // namespace limnoscope
