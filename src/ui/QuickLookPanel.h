#pragma once

#include <QLabel>
#include <QPointer>
#include <QUrl>
#include <QWidget>

namespace limnoscope {

class ActionTable;
class AppNotifications;
class ImageBrowserModel;

// A window of its own that shows the current image fitted to the screen on a dark backdrop, with
// its name and position beneath, toggled by Space. It follows the current image while shown. Its
// keys are the action table's: arrows, Home and End step, the tag keys tag, Space closes (Esc
// too), and the delete keys close it and ask for the deletion a moment later. Decodes on a worker
// thread; lives on the GUI thread.
class QuickLookPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int deleteDelayMs = 150;
    // The shown image's longer side is at most this share of the screen.
    static constexpr double screenShare = 0.85;
    static constexpr int captionMargin = 12;
    static constexpr QColor backdropColor { 0x10, 0x10, 0x10 };
    static constexpr QColor captionColor { 0xe6, 0xe6, 0xe6 };

    // Creates the window's panel, a window owned by `owner`; deletions are asked for through
    // `notifications`, keys looked up in `actions` (none when null).
    QuickLookPanel(
        ImageBrowserModel* model, AppNotifications* notifications, const ActionTable* actions, QWidget* owner);
    ~QuickLookPanel() override;

    // Shows the model's current image and brings the panel to the front.
    void present();
    // Closes when shown, presents otherwise.
    void toggle();
    // Loads the current image again when shown (after the current image changed).
    void refresh();
    [[nodiscard]] QUrl shownURL() const { return m_url; }
    // The line beneath the image: the file's name and its position, "3 / 12".
    [[nodiscard]] QString captionText() const;

signals:
    // Shift+Delete in the panel, a moment after it closed: the window deletes without asking
    // and shows the panel again on the next image.
    void deleteImmediatelyRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void load(const QUrl& url);
    void showImage(const QImage& image);
    void postDeleteLater(bool immediately);
    void updateCaption();

    ImageBrowserModel* m_model;
    AppNotifications* m_notifications;
    QPointer<const ActionTable> m_actions;
    QLabel* m_view;
    QLabel* m_name;
    QLabel* m_position;
    QUrl m_url;
    QImage m_image;
    quint64 m_loadID = 0;
};

} // namespace limnoscope
