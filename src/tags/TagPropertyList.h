#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace limnoscope {

// The binary property list the tag attribute holds: an array of strings. Each string keeps the
// object it was stored as, so that an entry that is not ours (a zero byte, Latin-1 bytes, a lone
// UTF-16 surrogate) is written back byte for byte; the general property-list library would turn
// such texts into UTF-8 and lose what it cannot carry. Pure functions; any thread.

// One text of the array, and its string object as stored (empty for a new entry).
struct TagListEntry {
    QString text;
    QByteArray storedObject;
};

// The entries of a binary property list whose top object is an array of strings; nothing for
// any other value, damaged or not.
[[nodiscard]] std::optional<QList<TagListEntry>> readBinaryTagList(QByteArrayView data);

// A binary property list of the entries, in order: stored objects as they were, new texts as
// ASCII strings when they are ASCII, else as UTF-16 strings.
[[nodiscard]] QByteArray writeBinaryTagList(const QList<TagListEntry>& entries);

} // namespace limnoscope
