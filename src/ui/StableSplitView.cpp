#include "StableSplitView.h"

#include <QSettings>

namespace limnoscope {

StableSplitView::StableSplitView(QWidget* leading, QWidget* center, QWidget* trailing, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent)
    , m_trailing(trailing)
{
    setObjectName(QStringLiteral("StableSplitView"));
    setChildrenCollapsible(false);
    setHandleWidth(1);
    setMinimumHeight(minimumHeight);
    leading->setMinimumWidth(sidebarMinimumWidth);
    leading->setMaximumWidth(sidebarMaximumWidth);
    center->setMinimumWidth(centerMinimumWidth);
    trailing->setMinimumWidth(previewMinimumWidth);
    trailing->setMaximumWidth(previewMaximumWidth);
    addWidget(leading);
    addWidget(center);
    addWidget(trailing);
    setStretchFactor(0, 0);
    setStretchFactor(1, 1);
    setStretchFactor(2, 0);
    setSizes({ 260, 520, m_previewWidth });

    m_animation.setDuration(animationMs);
    m_animation.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_animation, &QVariantAnimation::valueChanged, this,
        [this](const QVariant& value) { applyPreviewWidth(value.toInt()); });
    connect(&m_animation, &QVariantAnimation::finished, this, &StableSplitView::finishPreviewChange);
    connect(this, &QSplitter::splitterMoved, this, [this] {
        if (m_previewVisible && m_animation.state() != QAbstractAnimation::Running)
            m_previewWidth = sizes().value(2, m_previewWidth);
        saveState();
    });
    restoreState();
}

void StableSplitView::setPreviewVisible(bool visible, bool animated)
{
    if (visible == m_previewVisible && m_animation.state() != QAbstractAnimation::Running)
        return;
    // The width to come back to is the one the pane has now, whatever set it (a drag, the window's
    // first layout, a resize), unless it is still on its way in or out.
    if (!visible && m_previewVisible && !m_trailing->isHidden() && m_animation.state() != QAbstractAnimation::Running)
        m_previewWidth = std::clamp(sizes().value(2, m_previewWidth), previewMinimumWidth, previewMaximumWidth);
    m_previewVisible = visible;
    m_animation.stop();
    // During the animation the pane may be narrower than its usual minimum.
    m_trailing->setMinimumWidth(0);
    const int target = std::clamp(m_previewWidth, previewMinimumWidth, previewMaximumWidth);
    if (visible && m_trailing->isHidden()) {
        m_trailing->show();
        QList<int> widths = sizes();
        widths[1] += widths[2];
        widths[2] = 0;
        setSizes(widths);
    }
    const int from = sizes().value(2);
    const int to = visible ? target : 0;
    if (!animated) {
        applyPreviewWidth(to);
        finishPreviewChange();
        return;
    }
    m_animation.setStartValue(from);
    m_animation.setEndValue(to);
    m_animation.start();
}

void StableSplitView::applyPreviewWidth(int width)
{
    QList<int> widths = sizes();
    widths[1] += widths[2] - width;
    widths[2] = width;
    setSizes(widths);
}

void StableSplitView::finishPreviewChange()
{
    if (m_previewVisible)
        m_trailing->setMinimumWidth(previewMinimumWidth);
    else
        m_trailing->hide();
    saveState();
}

void StableSplitView::restoreState()
{
    const QByteArray state = QSettings().value(QLatin1String(settingsKey)).toByteArray();
    if (!state.isEmpty())
        QSplitter::restoreState(state);
    m_previewWidth = std::clamp(sizes().value(2, m_previewWidth), previewMinimumWidth, previewMaximumWidth);
}

void StableSplitView::saveState() const
{
    QSettings().setValue(QLatin1String(settingsKey), QSplitter::saveState());
}

} // namespace limnoscope
