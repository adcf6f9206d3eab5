#pragma once

#include "FinderTag.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace limnoscope {

// A file's colour tags, kept in the file's own extended attribute in the desktop file
// manager's format: a property list holding an array of texts "Name\nlabel". Entries that are
// not colour tags (the user's own tags) keep their place and, in a binary value, their stored
// bytes. Stateless and synchronous; safe on any thread. Symbolic links are followed.

// The attribute's name on this operating system.
[[nodiscard]] const char* tagAttributeName();

// Attributes larger than this are not read: no tag list comes near it, and it bounds the work
// done on a damaged value.
inline constexpr qsizetype maxTagAttributeBytes = 64 * 1024;

// The raw attribute value, or nothing when the file has none, it is empty, too large or
// unreadable.
[[nodiscard]] std::optional<QByteArray> readTagData(const QUrl& fileURL);

// The stored array of texts (binary or XML property list); empty when the attribute is
// missing, unreadable, not a property list, or not an array whose every element is a text.
[[nodiscard]] QStringList readTagEntries(const QUrl& fileURL);

// The array of texts held by an attribute value; empty under the same conditions as above.
[[nodiscard]] QStringList tagEntriesFromData(QByteArrayView data);

// The colour tags among the entries, in entry order, repeats kept.
[[nodiscard]] QList<FinderTag> readTags(const QUrl& fileURL);

// The entry's name: its text up to the first line feed.
[[nodiscard]] QString tagEntryName(const QString& entry);

// Whether the entry names this tag (case-insensitive; the label number is ignored).
[[nodiscard]] bool tagEntryMatches(const QString& entry, FinderTag tag);

// Removes every entry naming the tag, or appends the tag's entry when none does. True when the
// attribute was written.
bool toggleTag(FinderTag tag, const QUrl& fileURL);

// Stores the entries as a binary property list; an empty list removes the attribute. True on
// success; removing an attribute that is not there (or cannot exist there) succeeds.
bool writeTagEntries(const QStringList& entries, const QUrl& fileURL);

// Removes every colour tag and keeps the user's own entries in their order; the attribute goes
// when nothing is left. True when the colour tags are gone afterwards.
bool removeAllTags(const QUrl& fileURL);

} // namespace limnoscope
