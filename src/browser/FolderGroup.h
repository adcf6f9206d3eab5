#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

namespace limnoscope {

// One folder's images as the sidebar shows them under a header. Plain value; any thread.
struct FolderGroup {
    QUuid id = QUuid::createUuid(); // new for every group every time a scan builds it
    QUrl url;
    QString name; // the folder's last path component
    QList<QUrl> images;
    bool isExpanded = true;

    bool operator==(const FolderGroup& other) const = default;

    // Everything but the id: what the window shows of the group.
    [[nodiscard]] bool showsSameAs(const FolderGroup& other) const
    {
        return url == other.url && name == other.name && images == other.images && isExpanded == other.isExpanded;
    }
};

// The browsing order: the images of the expanded groups, group after group.
[[nodiscard]] QList<QUrl> flattenGroups(const QList<FolderGroup>& groups);

} // namespace limnoscope

Q_DECLARE_METATYPE(limnoscope::FolderGroup)
