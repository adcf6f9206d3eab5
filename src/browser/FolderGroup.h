#pragma once

#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>
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
    // The file names of images whose name without its extension another image of the group
    // shares (a.png beside a.jpg): they are shown with their extensions. Found when the group is
    // listed, so that showing it costs nothing; usually empty.
    QSet<QString> namesSharingBase;

    bool operator==(const FolderGroup& other) const = default;

    // Everything but the id: what the window shows of the group.
    [[nodiscard]] bool showsSameAs(const FolderGroup& other) const
    {
        return url == other.url && name == other.name && images == other.images && isExpanded == other.isExpanded
            && namesSharingBase == other.namesSharingBase;
    }
};

// `name` without its last extension ("a.b.png" gives "a.b"); a name that is all extension stays.
[[nodiscard]] QString withoutExtension(QString name);

// The names among `names` whose name without its extension another of them shares.
[[nodiscard]] QSet<QString> sharedBaseNames(const QStringList& names);

// The browsing order: the images of the expanded groups, group after group.
[[nodiscard]] QList<QUrl> flattenGroups(const QList<FolderGroup>& groups);

} // namespace limnoscope

Q_DECLARE_METATYPE(limnoscope::FolderGroup)
