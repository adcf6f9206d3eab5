#include "TransientMessage.h"

#include <QEvent>

#include <algorithm>

namespace limnoscope {
namespace {

constexpr int distanceFromEdges = 16;

} // namespace

TransientMessage::TransientMessage(QWidget* parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("TransientMessage"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setStyleSheet(QStringLiteral("#TransientMessage { background: palette(tool-tip-base); color: "
                                 "palette(tool-tip-text); border: 1px solid palette(mid); border-radius: 6px; "
                                 "padding: 6px 12px; }"));
    m_hideTimer.setSingleShot(true);
    connect(&m_hideTimer, &QTimer::timeout, this, [this] {
        hide();
        clear();
    });
    parent->installEventFilter(this);
    hide();
}

void TransientMessage::showMessage(const QString& text, int shownMs)
{
    setText(text);
    setAccessibleName(text);
    place();
    show();
    raise();
    m_hideTimer.start(shownMs);
}

QString TransientMessage::currentMessage() const
{
    return isVisible() ? text() : QString();
}

bool TransientMessage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize && isVisible())
        place();
    return QLabel::eventFilter(watched, event);
}

void TransientMessage::place()
{
    const QWidget* area = parentWidget();
    const int maxWidth = std::max(0, area->width() - 2 * distanceFromEdges);
    // A wrapping label's size hint is a guess at a pleasing shape: the text's width on one line
    // is measured without wrapping.
    setWordWrap(false);
    const int width = std::min(maxWidth, sizeHint().width());
    setWordWrap(true);
    const int height = heightForWidth(width) > 0 ? heightForWidth(width) : sizeHint().height();
    setGeometry((area->width() - width) / 2, area->height() - distanceFromEdges - height, width, height);
}

} // namespace limnoscope
