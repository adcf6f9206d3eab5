#include "FolderGroup.h"

#include <QHash>

namespace limnoscope {

QString withoutExtension(QString name)
{
    if (const qsizetype dot = name.lastIndexOf(QLatin1Char('.')); dot > 0)
        name.truncate(dot);
    return name;
}

QSet<QString> sharedBaseNames(const QStringList& names)
{
    QHash<QString, qsizetype> counts;
    counts.reserve(names.size());
    for (const QString& name : names)
        ++counts[withoutExtension(name)];
    QSet<QString> sharing;
    if (counts.size() == names.size())
        return sharing;
    for (const QString& name : names) {
        if (counts.value(withoutExtension(name)) > 1)
            sharing.insert(name);
    }
    return sharing;
}

QList<QUrl> flattenGroups(const QList<FolderGroup>& groups)
{
    qsizetype count = 0;
    for (const FolderGroup& group : groups) {
        if (group.isExpanded)
            count += group.images.size();
    }
    QList<QUrl> urls;
    urls.reserve(count);
    for (const FolderGroup& group : groups) {
        if (group.isExpanded)
            urls.append(group.images);
    }
    return urls;
}

} // namespace limnoscope
