// The whole-buffer forms of the capital-letter transform, over the
// streaming ones that the file format uses.
#include "driver/capitals.hpp"

#include "driver/capitals_stream.hpp"
#include "driver/memory_reader.hpp"

namespace quellpack::driver {

bool isText(const uint8_t* data, size_t n) {
    TextScan scan;
    scanText(scan, data, n);
    return scanIsText(scan);
}

size_t capitalsEncodedLength(const uint8_t* data, size_t n) {
    TextScan scan;
    scanText(scan, data, n);
    return static_cast<size_t>(scanEncodedLength(scan));
}

void capitalsEncode(std::vector<uint8_t>& data, size_t encodedLength) {
    const std::vector<uint8_t> raw = std::move(data);
    CapitalsReader reader;
    reader.raw = bufferReader(raw.data(), raw.size());
    data.assign(encodedLength, 0);
    size_t got = 0;
    for (size_t n; got < encodedLength && (n = readCapitals(reader, data.data() + got, encodedLength - got)) > 0;)
        got += n;
    data.resize(got);
}

bool capitalsDecode(std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    out.reserve(data.size());
    CapitalsWriter writer;
    writer.out = [&out](const uint8_t* bytes, size_t n) { out.insert(out.end(), bytes, bytes + n); };
    writeCapitals(writer, data.data(), data.size());
    const bool wellFormed = finishCapitals(writer);
    data = std::move(out);
    return wellFormed;
}

}  // namespace quellpack::driver
