#include "PreviewPanel.h"

#include "DecodeDownsampled.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QtConcurrent>

namespace limnoscope {
namespace {
constexpr int shadowRadius = 4;
constexpr int shadowAlpha = 84; // black at 33 %
} // namespace

PreviewPanel::PreviewPanel(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("PreviewPanel"));
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
}

void PreviewPanel::setImageURL(const QUrl& url)
{
    if (url == m_url)
        return;
    m_url = url;
    m_image = QImage(); // a new image clears the old one at once
    ++m_loadID;
    update();
    if (isVisible())
        load();
}

void PreviewPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    load();
}

void PreviewPanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    ++m_loadID;
    m_image = QImage();
}

void PreviewPanel::load()
{
    const quint64 loadID = ++m_loadID;
    if (m_url.isEmpty()) {
        m_image = QImage();
        update();
        emit imageShown();
        return;
    }
    const QUrl url = m_url;
    QPointer<PreviewPanel> self(this);
    // The continuation's context is the application, not this panel: a worker that finishes while
    // the panel is being destroyed would otherwise post its result to a deleted object.
    QtConcurrent::run([url] {
        return decodeDownsampled(url, decodeSize);
    }).then(qApp, [self, loadID](const QImage& image) {
        if (!self || self->m_loadID != loadID)
            return; // another image is wanted now
        self->m_image = image;
        self->update();
        emit self->imageShown();
    });
}

void PreviewPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, 0, width(), 0); // the divider across the top
    if (m_image.isNull())
        return;

    const QRectF area = QRectF(rect()).adjusted(padding, padding + 1, -padding, -padding);
    if (area.width() <= 0 || area.height() <= 0)
        return;
    QSizeF fitted = QSizeF(m_image.size()).scaled(area.size(), Qt::KeepAspectRatio);
    const QRectF target(area.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);

    for (int i = shadowRadius; i > 0; --i) {
        QPainterPath shadow;
        shadow.addRoundedRect(target.adjusted(-i, -i + 2, i, i + 2), cornerRadius + i, cornerRadius + i);
        painter.fillPath(shadow, QColor(0, 0, 0, shadowAlpha / (shadowRadius * 2)));
    }
    QPainterPath clip;
    clip.addRoundedRect(target, cornerRadius, cornerRadius);
    painter.setClipPath(clip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_image);
}

} // namespace limnoscope
