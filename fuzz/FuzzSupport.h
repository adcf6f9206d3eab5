#pragma once

// Helpers shared by the fuzz targets: turning fuzz input into Qt values and stopping with a
// message when an invariant breaks (libFuzzer then saves the input as a crash).

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace limnoscope::fuzz {

[[noreturn]] inline void invariantBroken(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "invariant broken at %s:%d: %s\n", file, line, what);
    std::abort();
}

// Unlike assert, stays active in optimised builds.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::limnoscope::fuzz::invariantBroken(#condition, __FILE__, __LINE__);                                       \
    } while (false)

// The input as bytes, without copying: libFuzzer owns the buffer for the call.
inline QByteArray bytesOf(const std::uint8_t* data, std::size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The input read as UTF-8, the way texts reach the parser from the readers.
inline QString textOf(const std::uint8_t* data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

// True when the text has no space or tab at either end.
inline bool isTrimmedOfSpacesAndTabs(const QString& text)
{
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    return text.isEmpty() || (!blank(text.front()) && !blank(text.back()));
}

} // namespace limnoscope::fuzz
