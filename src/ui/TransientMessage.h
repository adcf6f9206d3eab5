#pragma once

#include <QLabel>
#include <QTimer>

namespace limnoscope {

// A short message laid over the bottom of its parent for a few seconds (the outcome of a
// generate request, of clearing the index). It takes no room: nothing in the parent moves when
// it comes and goes, and clicks pass through it. GUI thread.
class TransientMessage : public QLabel
{
    Q_OBJECT

public:
    explicit TransientMessage(QWidget* parent);

    // Shows `text` for `shownMs` milliseconds, in place of any message shown.
    void showMessage(const QString& text, int shownMs);
    // The message shown; empty when none is.
    [[nodiscard]] QString currentMessage() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Centred over the bottom of the parent, at most its width less the margins.
    void place();

    QTimer m_hideTimer;
};

} // namespace limnoscope
