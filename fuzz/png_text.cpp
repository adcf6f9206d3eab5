// Fuzz target: the PNG chunk walk over a whole file and the per-chunk decision.
// The input is used twice: as the file the walk reads, and as one chunk's data for each of
// the three text chunk types.

#include "FuzzSupport.h"
#include "PNGTextReader.h"

#include <QLatin1StringView>

#include <sys/mman.h>
#include <unistd.h>

using namespace limnoscope;

namespace {

bool hasMetadataKeyword(QByteArrayView data)
{
    const qsizetype zero = data.indexOf('\0');
    const QByteArrayView keyword = data.first(zero);
    return keyword == "Description" || keyword == "ImageDescription" || keyword == "Comment" || keyword == "Software";
}

void checkOneChunk(const QByteArray& data)
{
    const qsizetype zero = data.indexOf('\0');

    const auto plain = parseTextChunk(data, u"tEXt");
    if (plain) {
        FUZZ_CHECK(zero >= 0);
        // Latin-1: one character per byte after the keyword's terminator.
        FUZZ_CHECK(plain->size() == data.size() - zero - 1);
        FUZZ_CHECK(hasMetadataKeyword(data) || plain->contains(QLatin1String("\"prompt\"")));
    }

    const auto international = parseTextChunk(data, u"iTXt");
    if (international) {
        FUZZ_CHECK(zero >= 0);
        const QByteArrayView keyword = QByteArrayView(data).first(zero);
        FUZZ_CHECK(keyword == "Description" || keyword == "ImageDescription" || keyword == "Comment");
    }

    FUZZ_CHECK(!parseTextChunk(data, u"zTXt"));
}

// One in-memory file for the whole run, rewritten for every input: the walk opens it by path.
class MemoryFile
{
public:
    MemoryFile()
        : m_fd(::memfd_create("png-text-fuzz", MFD_CLOEXEC))
    {
        if (m_fd < 0)
            std::abort();
        m_path = QStringLiteral("/proc/self/fd/%1").arg(m_fd);
    }

    const QString& write(const QByteArray& bytes)
    {
        if (::ftruncate(m_fd, 0) != 0 || ::pwrite(m_fd, bytes.constData(), size_t(bytes.size()), 0) != bytes.size())
            std::abort();
        return m_path;
    }

private:
    int m_fd;
    QString m_path;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    checkOneChunk(bytes);

    static MemoryFile file;
    const QString& path = file.write(bytes);
    const auto text = readPNGTextMetadata(path);
    if (text)
        FUZZ_CHECK(bytes.startsWith(pngSignature));
    // The walk keeps no state between calls.
    FUZZ_CHECK(readPNGTextMetadata(path) == text);
    return 0;
}
