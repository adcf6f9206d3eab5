// Fuzz target: the decoder of records as the metadata index stores them. Whatever the bytes, it
// gives a record or nothing; a record it gives encodes to bytes that decode to the same record.

#include "FuzzSupport.h"
#include "RecordEncoding.h"

using namespace limnoscope;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = fuzz::bytesOf(data, size);
    const std::optional<LimnoraMetadata> record = decodeRecord(input);
    if (record) {
        const std::optional<LimnoraMetadata> again = decodeRecord(encodeRecord(*record));
        FUZZ_CHECK(sameRecord(again, record));
    }
    return 0;
}
