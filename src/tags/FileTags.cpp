#include "FileTags.h"

#include "TagPropertyList.h"
#include "TagsLogging.h"

#include <QFile>
#include <QtEndian>

#include <plist/plist.h>

#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <memory>

Q_LOGGING_CATEGORY(lcTags, "limnoscope.tags", QtWarningMsg)

namespace limnoscope {
namespace {

#if defined(Q_OS_MACOS)
constexpr char attributeNameOnThisSystem[] = "com.apple.metadata:_kMDItemUserTags";
#else
// Linux admits only namespaced names: the file manager's name behind "user.".
constexpr char attributeNameOnThisSystem[] = "user.com.apple.metadata:_kMDItemUserTags";
#endif

ssize_t getAttribute(const QByteArray& path, void* buffer, size_t size)
{
#if defined(Q_OS_MACOS)
    return ::getxattr(path.constData(), attributeNameOnThisSystem, buffer, size, 0, 0);
#else
    return ::getxattr(path.constData(), attributeNameOnThisSystem, buffer, size);
#endif
}

int setAttribute(const QByteArray& path, const QByteArray& value)
{
#if defined(Q_OS_MACOS)
    return ::setxattr(path.constData(), attributeNameOnThisSystem, value.constData(), size_t(value.size()), 0, 0);
#else
    return ::setxattr(path.constData(), attributeNameOnThisSystem, value.constData(), size_t(value.size()), 0);
#endif
}

int removeAttribute(const QByteArray& path)
{
#if defined(Q_OS_MACOS)
    return ::removexattr(path.constData(), attributeNameOnThisSystem, 0);
#else
    return ::removexattr(path.constData(), attributeNameOnThisSystem);
#endif
}

bool attributeCannotBePresent(int error)
{
#if defined(ENOATTR) && ENOATTR != ENODATA
    if (error == ENOATTR)
        return true;
#endif
    return error == ENODATA || error == ENOTSUP || error == EOPNOTSUPP;
}

QByteArray encodedPath(const QUrl& fileURL)
{
    return fileURL.isLocalFile() ? QFile::encodeName(fileURL.toLocalFile()) : QByteArray();
}

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistDeleter>;

constexpr QByteArrayView binaryPlistMagic = "bplist00";

bool xmlPlistHasNestedContainers(QByteArrayView data)
{
    // Markup characters inside texts are escaped, so every "<array" or "<dict" is an element.
    const qsizetype containers = data.count("<array") + data.count("<dict");
    return containers > 1;
}

// The attribute's entries; binary values keep their stored string objects. Empty under the
// conditions `tagEntriesFromData` names.
QList<TagListEntry> storedEntries(QByteArrayView data)
{
    if (data.isEmpty() || data.size() > maxTagAttributeBytes)
        return {};
    if (data.startsWith(binaryPlistMagic))
        return readBinaryTagList(data).value_or(QList<TagListEntry>());
    if (xmlPlistHasNestedContainers(data))
        return {};

    // The text parser may look one byte past the end: give it a zero-terminated copy.
    const QByteArray terminated = data.toByteArray();
    plist_t parsed = nullptr;
    plist_from_memory(terminated.constData(), uint32_t(terminated.size()), &parsed);
    const PlistPtr root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_ARRAY)
        return {};

    const uint32_t count = plist_array_get_size(root.get());
    QList<TagListEntry> entries;
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        plist_t item = plist_array_get_item(root.get(), i);
        if (!item || plist_get_node_type(item) != PLIST_STRING)
            return {};
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(item, &length);
        if (!text)
            return {};
        entries.append({ QString::fromUtf8(text, qsizetype(length)), {} });
    }
    return entries;
}

QList<TagListEntry> storedEntries(const QUrl& fileURL)
{
    const std::optional<QByteArray> data = readTagData(fileURL);
    return data ? storedEntries(*data) : QList<TagListEntry>();
}

bool isColourTag(const QString& entry)
{
    return std::any_of(
        allFinderTags.begin(), allFinderTags.end(), [&entry](FinderTag tag) { return tagEntryMatches(entry, tag); });
}

// Stores the entries; an empty list removes the attribute.
bool writeStoredEntries(const QList<TagListEntry>& entries, const QUrl& fileURL)
{
    const QByteArray path = encodedPath(fileURL);
    if (path.isEmpty())
        return false;
    if (entries.isEmpty()) {
        // Success means "no attribute afterwards": a file that never had one is untagged
        // already, but a removal refused by the system leaves the tags in place.
        return removeAttribute(path) == 0 || attributeCannotBePresent(errno);
    }
    if (setAttribute(path, writeBinaryTagList(entries)) == 0)
        return true;
    qCWarning(lcTags) << "cannot write the tags of" << fileURL.toLocalFile() << qt_error_string(errno);
    return false;
}

} // namespace

const char* tagAttributeName()
{
    return attributeNameOnThisSystem;
}

std::optional<QByteArray> readTagData(const QUrl& fileURL)
{
    const QByteArray path = encodedPath(fileURL);
    if (path.isEmpty())
        return std::nullopt;
    const ssize_t size = getAttribute(path, nullptr, 0);
    if (size < 1 || size > maxTagAttributeBytes)
        return std::nullopt;
    QByteArray buffer(qsizetype(size), Qt::Uninitialized);
    const ssize_t read = getAttribute(path, buffer.data(), size_t(buffer.size()));
    if (read < 1)
        return std::nullopt;
    // The value may have shrunk between the two calls: keep only what was read.
    buffer.truncate(qsizetype(read));
    return buffer;
}

QStringList readTagEntries(const QUrl& fileURL)
{
    const std::optional<QByteArray> data = readTagData(fileURL);
    return data ? tagEntriesFromData(*data) : QStringList();
}

QStringList tagEntriesFromData(QByteArrayView data)
{
    QStringList texts;
    for (const TagListEntry& entry : storedEntries(data))
        texts.append(entry.text);
    return texts;
}

QString tagEntryName(const QString& entry)
{
    const qsizetype lineFeed = entry.indexOf(u'\n');
    return lineFeed < 0 ? entry : entry.left(lineFeed);
}

bool tagEntryMatches(const QString& entry, FinderTag tag)
{
    return tagEntryName(entry).toLower() == attributeName(tag).toLower();
}

QList<FinderTag> readTags(const QUrl& fileURL)
{
    QList<FinderTag> tags;
    for (const QString& entry : readTagEntries(fileURL)) {
        for (FinderTag tag : allFinderTags) {
            if (tagEntryMatches(entry, tag)) {
                tags.append(tag);
                break;
            }
        }
    }
    return tags;
}

bool toggleTag(FinderTag tag, const QUrl& fileURL)
{
    QList<TagListEntry> entries = storedEntries(fileURL);
    const qsizetype removed
        = entries.removeIf([tag](const TagListEntry& entry) { return tagEntryMatches(entry.text, tag); });
    if (removed == 0)
        entries.append({ attributeEntry(tag), {} });
    return writeStoredEntries(entries, fileURL);
}

bool writeTagEntries(const QStringList& entries, const QUrl& fileURL)
{
    QList<TagListEntry> stored;
    for (const QString& entry : entries)
        stored.append({ entry, {} });
    return writeStoredEntries(stored, fileURL);
}

bool removeAllTags(const QUrl& fileURL)
{
    QList<TagListEntry> entries = storedEntries(fileURL);
    // No colour tag to remove: the attribute, even one that cannot be read, is left as it is.
    if (entries.removeIf([](const TagListEntry& entry) { return isColourTag(entry.text); }) == 0)
        return true;
    return writeStoredEntries(entries, fileURL);
}

} // namespace limnoscope
