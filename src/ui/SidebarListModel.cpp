#include "SidebarListModel.h"

#include "ImageBrowserModel.h"

namespace limnoscope {

SidebarListModel::SidebarListModel(ImageBrowserModel* browser, QObject* parent)
    : QAbstractListModel(parent)
    , m_browser(browser)
{
    connect(browser, &ImageBrowserModel::groupsChanged, this, &SidebarListModel::synchronize);
    connect(browser, &ImageBrowserModel::rootFolderURLChanged, this, &SidebarListModel::synchronize);
    connect(browser, &ImageBrowserModel::filterChanged, this, &SidebarListModel::refreshHeaders);
    synchronize();
}

bool SidebarListModel::isRow(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && !index.parent().isValid() && index.column() == 0
        && index.row() < m_rows.size();
}

int SidebarListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant SidebarListModel::data(const QModelIndex& index, int role) const
{
    if (!isRow(index))
        return {};
    const Row& row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return rowTitle(index.row());
    case RowKindRole:
        return QVariant::fromValue(row.kind);
    case URLRole:
        return row.url;
    default:
        break;
    }
    if (row.kind != RowKind::groupHeader)
        return {};
    const GroupInfo group = m_groups.value(row.url);
    switch (role) {
    case GroupIDRole:
        return group.id;
    case GroupImageCountRole:
        return qint64(group.imageCount);
    case GroupIsExpandedRole:
        return group.isExpanded;
    case GroupListedCountRole:
        return group.listedCount;
    default:
        return {};
    }
}

Qt::ItemFlags SidebarListModel::flags(const QModelIndex& index) const
{
    if (!isRow(index))
        return Qt::NoItemFlags;
    if (m_rows.at(index.row()).kind == RowKind::image)
        return Qt::ItemIsEnabled | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
    return Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QHash<int, QByteArray> SidebarListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(RowKindRole, "rowKind");
    names.insert(URLRole, "url");
    names.insert(GroupIDRole, "groupID");
    names.insert(GroupImageCountRole, "groupImageCount");
    names.insert(GroupIsExpandedRole, "groupIsExpanded");
    names.insert(GroupListedCountRole, "groupListedCount");
    return names;
}

QString SidebarListModel::rowTitle(int row) const
{
    const Row& entry = m_rows.at(row);
    if (entry.kind == RowKind::groupHeader)
        return m_groups.value(entry.url).name;
    return entry.showsExtension ? entry.url.fileName() : withoutExtension(entry.url.fileName());
}

int SidebarListModel::rowOfImage(const QUrl& url) const
{
    if (url.isEmpty())
        return -1;
    for (qsizetype row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).kind == RowKind::image && m_rows.at(row).url == url)
            return int(row);
    }
    return -1;
}

void SidebarListModel::forgetMeasuredHeights()
{
    for (const Row& row : std::as_const(m_rows))
        row.measuredHeight = -1;
}

QList<SidebarListModel::Row> SidebarListModel::rowsFor(const QList<FolderGroup>& groups, bool showsHeaders) const
{
    qsizetype count = 0;
    for (const FolderGroup& group : groups)
        count += (showsHeaders ? 1 : 0) + (group.isExpanded ? group.images.size() : 0);
    QList<Row> rows;
    rows.reserve(count);
    for (const FolderGroup& group : groups) {
        if (showsHeaders)
            rows.append(Row { RowKind::groupHeader, group.url });
        if (!group.isExpanded)
            continue;
        const bool anySharing = !group.namesSharingBase.isEmpty();
        for (const QUrl& image : group.images)
            rows.append(Row { RowKind::image, image, anySharing && group.namesSharingBase.contains(image.fileName()) });
    }
    return rows;
}

void SidebarListModel::synchronize()
{
    const QList<FolderGroup>& groups = m_browser->groups();
    const QUrl& root = m_browser->rootFolderURL();
    const bool showsHeaders = groups.size() >= 2 || !root.isEmpty();
    const QList<Row> newRows = rowsFor(groups, showsHeaders);

    const QHash<QUrl, GroupInfo> newGroups = groupInfos();

    const bool otherFolder = root != m_rootFolderURL;
    m_rootFolderURL = root;
    m_showsHeaders = showsHeaders;
    if (otherFolder) {
        beginResetModel();
        m_rows = newRows;
        m_groups = newGroups;
        endResetModel();
        return;
    }

    const QHash<QUrl, GroupInfo> before = m_groups;
    // While rows come and go, headers on their way out still answer with their old group.
    m_groups.insert(newGroups);
    if (!applyRowChanges(newRows)) {
        beginResetModel();
        m_rows = newRows;
        m_groups = newGroups;
        endResetModel();
        return;
    }
    m_groups = newGroups;
    applyExtensionChanges(newRows);
    notifyChangedHeaders(before);
}

void SidebarListModel::applyExtensionChanges(const QList<Row>& newRows)
{
    for (qsizetype row = 0; row < m_rows.size(); ++row) {
        Row& entry = m_rows[row];
        if (entry.showsExtension == newRows.at(row).showsExtension)
            continue;
        entry.showsExtension = newRows.at(row).showsExtension;
        entry.measuredHeight = -1;
        const QModelIndex changed = index(int(row));
        emit dataChanged(changed, changed);
    }
}

QHash<QUrl, SidebarListModel::GroupInfo> SidebarListModel::groupInfos() const
{
    const bool filtering = m_browser->isFiltering();
    QHash<QUrl, GroupInfo> infos;
    for (const FolderGroup& group : m_browser->groups()) {
        infos.insert(group.url,
            GroupInfo { group.id, group.name, group.images.size(), group.isExpanded,
                filtering ? m_browser->listedCount(group.url) : -1 });
    }
    return infos;
}

void SidebarListModel::refreshHeaders()
{
    const QHash<QUrl, GroupInfo> before = m_groups;
    m_groups = groupInfos();
    notifyChangedHeaders(before);
}

bool SidebarListModel::applyRowChanges(const QList<Row>& newRows)
{
    const qsizetype oldCount = m_rows.size();
    const qsizetype newCount = newRows.size();
    const qsizetype shorter = std::min(oldCount, newCount);
    qsizetype prefix = 0;
    while (prefix < shorter && m_rows.at(prefix).sameKey(newRows.at(prefix)))
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && m_rows.at(oldCount - 1 - suffix).sameKey(newRows.at(newCount - 1 - suffix)))
        ++suffix;
    const qsizetype oldEnd = oldCount - suffix;
    const qsizetype newEnd = newCount - suffix;

    // Which rows between the common ends stay: look the longer side up in the shorter one.
    QList<bool> oldKept(oldEnd - prefix, false);
    QList<bool> newKept(newEnd - prefix, false);
    if (prefix < oldEnd && prefix < newEnd) {
        const bool hashOld = oldEnd - prefix <= newEnd - prefix;
        const QList<Row>& hashed = hashOld ? m_rows : newRows;
        const QList<Row>& scanned = hashOld ? newRows : m_rows;
        const qsizetype hashedEnd = hashOld ? oldEnd : newEnd;
        const qsizetype scannedEnd = hashOld ? newEnd : oldEnd;
        QHash<QUrl, qsizetype> positions;
        positions.reserve(hashedEnd - prefix);
        for (qsizetype i = prefix; i < hashedEnd; ++i)
            positions.insert(hashed.at(i).url, i);
        qsizetype lastMatch = -1;
        for (qsizetype i = prefix; i < scannedEnd; ++i) {
            const auto found = positions.constFind(scanned.at(i).url);
            if (found == positions.cend() || hashed.at(*found).kind != scanned.at(i).kind)
                continue;
            // Kept rows must keep their order; anything else (a new sort order) is a new list.
            if (*found < lastMatch)
                return false;
            lastMatch = *found;
            (hashOld ? newKept : oldKept)[i - prefix] = true;
            (hashOld ? oldKept : newKept)[*found - prefix] = true;
        }
    }

    // Removals from the last run to the first, so that earlier positions stay valid.
    for (qsizetype last = oldEnd - 1; last >= prefix;) {
        if (oldKept.at(last - prefix)) {
            --last;
            continue;
        }
        qsizetype first = last;
        while (first - 1 >= prefix && !oldKept.at(first - 1 - prefix))
            --first;
        beginRemoveRows({}, int(first), int(last));
        m_rows.remove(first, last - first + 1);
        endRemoveRows();
        last = first - 1;
    }
    // Insertions from the first run on: everything before a run already matches the new list.
    for (qsizetype first = prefix; first < newEnd;) {
        if (newKept.at(first - prefix)) {
            ++first;
            continue;
        }
        qsizetype last = first;
        while (last + 1 < newEnd && !newKept.at(last + 1 - prefix))
            ++last;
        beginInsertRows({}, int(first), int(last));
        m_rows.insert(first, last - first + 1, Row {});
        std::copy(newRows.cbegin() + first, newRows.cbegin() + last + 1, m_rows.begin() + first);
        endInsertRows();
        first = last + 1;
    }
    Q_ASSERT(m_rows.size() == newRows.size());
    return true;
}

void SidebarListModel::notifyChangedHeaders(const QHash<QUrl, GroupInfo>& before)
{
    if (!m_showsHeaders)
        return;
    for (qsizetype row = 0; row < m_rows.size(); ++row) {
        const Row& entry = m_rows.at(row);
        if (entry.kind != RowKind::groupHeader)
            continue;
        // Headers that were not there before came with their rows inserted.
        const auto previous = before.constFind(entry.url);
        if (previous == before.cend() || *previous == m_groups.value(entry.url))
            continue;
        const QModelIndex changed = index(int(row));
        emit dataChanged(changed, changed);
    }
}

} // namespace limnoscope
