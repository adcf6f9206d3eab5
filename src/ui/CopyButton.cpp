#include "CopyButton.h"

#include "Icons.h"

#include <QApplication>
#include <QClipboard>
#include <QTimer>

namespace limnoscope {

CopyButton::CopyButton(const char* labelKey, std::function<QString()> textToCopy, QWidget* parent)
    : QPushButton(parent)
    , m_labelKey(labelKey)
    , m_textToCopy(std::move(textToCopy))
{
    setFocusPolicy(Qt::NoFocus);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    setFont(small);
    setCopied(false);
    connect(this, &QPushButton::clicked, this, [this] {
        QApplication::clipboard()->setText(m_textToCopy());
        setCopied(true);
        // Every copy schedules its own reset; an earlier one still fires at its own time.
        QTimer::singleShot(copiedDurationMs, this, [this] { setCopied(false); });
    });
}

void CopyButton::setCopied(bool copied)
{
    m_copied = copied;
    setText(copied ? qtTrId("copied") : qtTrId(m_labelKey));
    setIcon(symbolIcon(copied ? "checkmark" : "doc.on.doc"));
}

} // namespace limnoscope
