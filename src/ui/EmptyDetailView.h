#pragma once

#include <QWidget>

class QLabel;

namespace limnoscope {

// The centre pane without metadata to show: an icon and the model's message, or a hint to
// select an image. GUI thread.
class EmptyDetailView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int iconSize = 54;

    explicit EmptyDetailView(QWidget* parent = nullptr);

    // An empty message shows the hint.
    void setErrorMessage(const QString& message);
    [[nodiscard]] QString shownText() const;

private:
    QLabel* m_text;
};

} // namespace limnoscope
