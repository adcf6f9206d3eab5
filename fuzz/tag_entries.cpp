// Fuzz target: the colour-tag attribute reader on any attribute value (binary or XML property
// list, or neither).

#include "FileTags.h"
#include "FuzzSupport.h"
#include "TagPropertyList.h"

#include <plist/plist.h>

#include <algorithm>

using namespace limnoscope;

namespace {

// The entries written back as a binary property list, the way the writer stores them.
QByteArray binaryPropertyList(const QStringList& entries)
{
    plist_t array = plist_new_array();
    for (const QString& entry : entries)
        plist_array_append_item(array, plist_new_string(entry.toUtf8().constData()));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(array, &bytes, &length);
    plist_free(array);
    QByteArray result(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QStringList entries = tagEntriesFromData(bytes);
    FUZZ_CHECK(entries.size() <= bytes.size());
    bool hasZero = false;
    for (const QString& entry : entries) {
        FUZZ_CHECK(!tagEntryName(entry).contains(u'\n'));
        hasZero = hasZero || entry.contains(QChar(0));
    }
    // What was read survives being stored again by the general library, where it can carry the
    // texts (UTF-8 loses lone surrogates; an empty list is stored as no attribute, and a value
    // over the reader's limit is not read).
    const bool unicodeClean = std::all_of(entries.cbegin(), entries.cend(),
        [](const QString& entry) { return QString::fromUtf8(entry.toUtf8()) == entry; });
    if (!entries.isEmpty() && !hasZero && unicodeClean) {
        const QByteArray stored = binaryPropertyList(entries);
        if (stored.size() <= maxTagAttributeBytes)
            FUZZ_CHECK(tagEntriesFromData(stored) == entries);
    }
    // Our own writer keeps every entry as it was read, and new entries as their texts.
    if (const auto list = readBinaryTagList(bytes)) {
        QList<TagListEntry> fresh = *list;
        for (TagListEntry& entry : fresh)
            entry.storedObject.clear();
        for (const QList<TagListEntry>& written : { *list, fresh }) {
            const auto reread = readBinaryTagList(writeBinaryTagList(written));
            FUZZ_CHECK(reread && reread->size() == list->size());
            for (qsizetype i = 0; i < list->size(); ++i)
                FUZZ_CHECK(reread->at(i).text == list->at(i).text);
        }
    }
    return 0;
}
