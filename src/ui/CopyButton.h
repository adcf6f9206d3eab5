#pragma once

#include <QPushButton>

namespace limnoscope {

// A small button that copies something and shows "copied" with a check mark for 1.5 s after
// each press. GUI thread.
class CopyButton : public QPushButton
{
    Q_OBJECT

public:
    static constexpr int copiedDurationMs = 1500;

    // `labelKey` names the button's text while nothing was copied.
    CopyButton(const char* labelKey, std::function<QString()> textToCopy, QWidget* parent = nullptr);

    [[nodiscard]] bool isShowingCopied() const { return m_copied; }

private:
    void setCopied(bool copied);

    const char* m_labelKey;
    std::function<QString()> m_textToCopy;
    bool m_copied = false;
};

} // namespace limnoscope
