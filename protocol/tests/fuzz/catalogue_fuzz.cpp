// Every record decoder of the catalogue on arbitrary bytes (the first byte picks the record),
// and each decoded record encoded again: a decoder refuses a wrong size with NetError and
// otherwise yields a record that encodes to its exact wire size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/net_error.h"

namespace pr = talvorine::protocol;

namespace {

template <class Record>
void RoundTrip(std::span<const std::uint8_t> bytes) {
    const Record record = Record::Decode(bytes);
    const auto encoded = record.Encode();
    // Decoding what was encoded must give the same bytes again.
    if (Record::Decode(encoded).Encode() != encoded) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    try {
        switch (data[0] % 12) {
            case 0:
                RoundTrip<pr::WireSocketAddress>(bytes);
                break;
            case 1:
                RoundTrip<pr::LoginRequest>(bytes);
                break;
            case 2:
                RoundTrip<pr::MessageRecord>(bytes);
                break;
            case 3:
                RoundTrip<pr::ChatRequest>(bytes);
                break;
            case 4:
                RoundTrip<pr::FileRequest>(bytes);
                break;
            case 5:
                RoundTrip<pr::UserProfile>(bytes);
                break;
            case 6:
                RoundTrip<pr::SearchRequest>(bytes);
                break;
            case 7:
                RoundTrip<pr::SearchRow>(bytes);
                break;
            case 8:
                RoundTrip<pr::AccountCredentials>(bytes);
                break;
            case 9:
                RoundTrip<pr::PasswordChange>(bytes);
                break;
            case 10:
                RoundTrip<pr::IconUpload>(bytes);
                break;
            default:
                RoundTrip<pr::IconDownload>(bytes);
                break;
        }
    } catch (const pr::NetError&) {
        // A size the record does not have.
    }
    return 0;
}
