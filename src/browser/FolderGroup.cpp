#include "FolderGroup.h"

namespace limnoscope {

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
