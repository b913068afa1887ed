#include "initfiles/wire.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file.h"

namespace quillon {

// Eight bytes at a time: a word's even and odd bytes are added as four
// 16-bit lanes, which cannot overflow within 128 words. A block series sums
// tens of megabytes twice, once when written and once when listed.
std::uint32_t RecordChecksum(const std::uint8_t* data, std::size_t n) {
    constexpr std::uint64_t kByteLanes = 0x00FF00FF00FF00FFULL;
    constexpr std::uint64_t kWordLanes = 0x0000FFFF0000FFFFULL;
    constexpr std::size_t kWordsPerRound = 128;
    std::uint32_t sum = 0;
    std::size_t i = 0;
    while (n - i >= 8) {
        std::uint64_t lanes = 0;
        std::size_t words = std::min((n - i) / 8, kWordsPerRound);
        for (std::size_t w = 0; w < words; ++w, i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, data + i, sizeof word);
            lanes += (word & kByteLanes) + ((word >> 8) & kByteLanes);
        }
        lanes = (lanes & kWordLanes) + ((lanes >> 16) & kWordLanes);
        sum += static_cast<std::uint32_t>(lanes) + static_cast<std::uint32_t>(lanes >> 32);
    }
    for (; i < n; ++i) {
        sum += data[i];
    }
    return 0u - sum;
}

const char* CommandName(int code) {
    switch (code) {
        case CMD_CBUS:
            return "CMD_CBUS";
        case CMD_UPLOAD:
            return "CMD_UPLOAD";
        case CMD_EXEC_ADDRESS:
            return "CMD_EXEC_ADDRESS";
        case CMD_BLOCK_COUNT:
            return "CMD_BLOCK_COUNT";
        case CMD_BLOCK_DATA:
            return "CMD_BLOCK_DATA";
        case CMD_BLOCK_HEADER:
            return "CMD_BLOCK_HEADER";
        case CMD_END:
            return "CMD_END";
        case CMD_PARAMETERS:
            return "CMD_PARAMETERS";
        default:
            return nullptr;
    }
}

RecordCheck CheckRecord(const std::uint8_t* data, std::size_t size) {
    RecordCheck check;
    if (size >= 1) {
        check.syncOk = data[0] == kRecordSync;
    }
    if (size >= 2) {
        check.code = data[1];
        check.codeKnown = CommandName(check.code) != nullptr;
    }
    if (size >= kRecordHeaderSize) {
        check.lengthField = ReadWordBE(data + 2);
    }
    if (size < kMinRecordSize) {
        return check;
    }
    check.complete = true;
    std::size_t body = size - kRecordChecksumSize;
    check.payloadSize = body - kRecordHeaderSize;
    check.lengthOk = body <= 0xFFFF && check.lengthField == body;
    check.storedChecksum = ReadDwordBE(data + body);
    check.expectedChecksum = RecordChecksum(data, body);
    check.checksumOk = check.storedChecksum == check.expectedChecksum;
    return check;
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

bool LoadRecordFile(const std::string& path, std::vector<std::uint8_t>& bytes, int& openError) {
    File file;
    if (!file.Open(path, File::Mode::ReadExisting)) {
        openError = file.OpenFault().code;
        return false;
    }
    // No record is larger; a file that claims more is not read into memory.
    constexpr std::size_t kLargestRecord = RecordSizeFor(0xFFFF);
    bytes.resize(kLargestRecord + 1);
    bytes.resize(file.Read(bytes.data(), bytes.size()));
    if (bytes.size() > kLargestRecord) {
        bytes.clear();
        openError = EFBIG;
        return false;
    }
    openError = 0;
    return true;
}

}  // namespace quillon
