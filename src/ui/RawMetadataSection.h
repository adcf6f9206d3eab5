#pragma once

#include "LimnoraMetadata.h"
#include "SectionFrame.h"

class QToolButton;
class QWidget;

namespace limnoscope {

class CopyButton;

// The inspector section listing every metadata text the image holds, each under its source
// name, as stored. Collapsed at first; the header's toggle (mouse, or Tab then Return) opens it. The
// texts' widgets are made on first opening, so that a long graph costs nothing while closed.
// GUI thread.
class RawMetadataSection : public SectionFrame
{
    Q_OBJECT

public:
    // The longest part of one text that is shown; copying always gives the whole text.
    static constexpr qsizetype maxShownCharacters = 100'000;
    static constexpr int maxVisibleLines = 10;

    explicit RawMetadataSection(const QList<RawText>& texts, QWidget* parent = nullptr);

    [[nodiscard]] QToolButton* toggleButton() const { return m_toggle; }
    [[nodiscard]] CopyButton* copyButton() const { return m_copyButton; }
    [[nodiscard]] bool isExpanded() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setExpanded(bool expanded);
    void buildTexts();

    QList<RawText> m_texts;
    QToolButton* m_toggle;
    CopyButton* m_copyButton;
    QWidget* m_body = nullptr;
};

// All texts as one, for the clipboard: each source name on its own line, then its text, with a
// blank line between entries.
[[nodiscard]] QString rawTextsForClipboard(const QList<RawText>& texts);

} // namespace limnoscope
