#pragma once

#include "FolderGroup.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QUrl>
#include <QUuid>

namespace limnoscope {

class ImageBrowserModel;

// The sidebar's rows: a header row per folder group (when headers are shown) followed by an image
// row per image of the group while it is expanded. Follows the browser model's groups and changes
// only the rows that changed: a rescan that finds the same images (new group ids, nothing else)
// leaves every row alone, and images that come or go are inserted or removed as such. The current
// image and the multi-selection are not part of the rows; the delegate reads them from the
// browser model. GUI thread.
class SidebarListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum class RowKind { groupHeader, image };
    Q_ENUM(RowKind)

    enum Role {
        RowKindRole = Qt::UserRole + 1, // RowKind
        URLRole, // the image's URL, or the group's folder URL
        GroupIDRole, // the group's id (for toggleGroup), header rows only
        GroupImageCountRole, // header rows only
        GroupIsExpandedRole, // header rows only
        GroupListedCountRole, // header rows only: the images listed, the filter aside; -1 unless filtering
    };

    explicit SidebarListModel(ImageBrowserModel* browser, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    // Quick accessors for painting and layout.
    [[nodiscard]] RowKind rowKind(int row) const { return m_rows.at(row).kind; }
    [[nodiscard]] const QUrl& rowURL(int row) const { return m_rows.at(row).url; }
    // The image's file name without its extension (with it where another image of the group has
    // the same name without one: "a.png" and "a.jpg"), or the group's name.
    [[nodiscard]] QString rowTitle(int row) const;
    // The row of the image, or -1 when it has none (not listed, or its group is collapsed).
    [[nodiscard]] int rowOfImage(const QUrl& url) const;

    // A height measured by the delegate, kept with the row until forgetMeasuredHeights(); -1 when
    // none was stored.
    [[nodiscard]] int measuredHeight(int row) const { return m_rows.at(row).measuredHeight; }
    void setMeasuredHeight(int row, int height) const { m_rows[row].measuredHeight = height; }
    void forgetMeasuredHeights();

    // Whether header rows are shown: with two or more groups, or whenever a folder is open.
    [[nodiscard]] bool showsGroupHeaders() const { return m_showsHeaders; }

private:
    struct Row {
        RowKind kind = RowKind::image;
        QUrl url;
        bool showsExtension = false;
        mutable int measuredHeight = -1;

        [[nodiscard]] bool sameKey(const Row& other) const { return kind == other.kind && url == other.url; }
    };
    struct GroupInfo {
        QUuid id;
        QString name;
        qsizetype imageCount = 0;
        bool isExpanded = true;
        qint64 listedCount = -1;

        bool operator==(const GroupInfo& other) const = default;
    };

    [[nodiscard]] bool isRow(const QModelIndex& index) const;
    // Brings the rows in line with the browser model.
    void synchronize();
    [[nodiscard]] QHash<QUrl, GroupInfo> groupInfos() const;
    // The filter changed what the headers count, not the rows.
    void refreshHeaders();
    [[nodiscard]] QList<Row> rowsFor(const QList<FolderGroup>& groups, bool showsHeaders) const;
    // False when the rows kept from the old list are not in the same order in the new one.
    bool applyRowChanges(const QList<Row>& newRows);
    // Rows that stayed but now show their extension or no longer do.
    void applyExtensionChanges(const QList<Row>& newRows);
    void notifyChangedHeaders(const QHash<QUrl, GroupInfo>& before);

    ImageBrowserModel* m_browser;
    mutable QList<Row> m_rows;
    QHash<QUrl, GroupInfo> m_groups; // by folder URL
    bool m_showsHeaders = false;
    QUrl m_rootFolderURL;
};

} // namespace limnoscope
