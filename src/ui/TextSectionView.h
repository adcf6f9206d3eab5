#pragma once

#include "SectionFrame.h"

namespace limnoscope {

class CopyButton;

// An inspector section showing one text (the prompt or the negative prompt), selectable, with
// a button that copies it exactly as stored. GUI thread.
class TextSectionView : public SectionFrame
{
    Q_OBJECT

public:
    TextSectionView(const QString& title, const char* iconName, const QString& content, QWidget* parent = nullptr);

    [[nodiscard]] CopyButton* copyButton() const { return m_copyButton; }

private:
    CopyButton* m_copyButton;
};

} // namespace limnoscope
