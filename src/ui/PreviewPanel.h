#pragma once

#include <QImage>
#include <QUrl>
#include <QWidget>

namespace limnoscope {

// The right pane: the current image decoded at 800 pixels on a worker thread and drawn fitted
// into the pane with rounded corners and a shadow. A result for an image that is no longer
// the one to show is dropped. GUI thread.
class PreviewPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int decodeSize = 800;
    static constexpr int padding = 12;
    static constexpr qreal cornerRadius = 6;

    explicit PreviewPanel(QWidget* parent = nullptr);

    void setImageURL(const QUrl& url);
    [[nodiscard]] QUrl imageURL() const { return m_url; }
    [[nodiscard]] const QImage& image() const { return m_image; }

signals:
    // A decode finished and its image (possibly none) is shown.
    void imageShown();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void load();

    QUrl m_url;
    QImage m_image;
    quint64 m_loadID = 0;
};

} // namespace limnoscope
