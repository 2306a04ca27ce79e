#include "viewer/CMDFile.h"

#include <optional>

namespace CMDFile {

namespace {

constexpr int HighestRecordType = 0x1F;

// Reads bytes from the module, refusing any position past its end.
class RecordReader {
public:
    explicit RecordReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool AtEnd() const { return position_ >= bytes_.size(); }

    uint8_t Byte(size_t offset) const {
        Need(offset + 1);
        return bytes_[position_ + offset];
    }

    uint16_t Word(size_t offset) const {
        return static_cast<uint16_t>(Byte(offset) | (Byte(offset + 1) << 8));
    }

    std::vector<uint8_t> Bytes(size_t offset, size_t count) const {
        Need(offset + count);
        auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(position_ + offset);
        return {first, first + static_cast<std::ptrdiff_t>(count)};
    }

    void Advance(size_t count) { position_ += count; }

private:
    void Need(size_t count) const {
        if (count > bytes_.size() - position_) throw EFormatError();
    }

    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

// A length byte of 0 stands for 256.
size_t PayloadLength(uint8_t lengthByte) { return lengthByte == 0 ? 256 : lengthByte; }

// The load address takes two of the payload bytes; short counts wrap into the next 256,
// so a length byte of 02H means 256 data bytes, 01H 255 and 00H 254.
size_t LoadDataLength(uint8_t lengthByte) {
    int length = lengthByte - 2;
    if (length < 1) length += 256;
    return static_cast<size_t>(length);
}

}  // namespace

bool StartsLikeLoadModule(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return false;
    switch (bytes[0]) {
    case 0x01: case 0x03: case 0x05: case 0x07: case 0x1F: return true;
    default: return false;
    }
}

std::vector<LoadRecord> ParseLoadFile(std::span<const uint8_t> bytes) {
    if (!StartsLikeLoadModule(bytes)) throw EInvalidFormat();

    std::vector<LoadRecord> records;
    RecordReader reader(bytes);
    // Every record moves the reader on by at least two bytes, and a missing byte throws,
    // so the loop ends with the transfer record or an error.
    for (;;) {
        if (reader.AtEnd()) throw EFormatError();  // no transfer record
        const int type = reader.Byte(0);
        const uint8_t lengthByte = reader.Byte(1);
        if (type > HighestRecordType) throw EFormatError();

        LoadRecord record;
        record.Type = type;
        if (type == LoadBlockRecord) {
            const size_t dataLength = LoadDataLength(lengthByte);
            record.Address = reader.Word(2);
            record.Data = reader.Bytes(4, dataLength);
            reader.Advance(4 + dataLength);
        } else if (type == TransferRecord) {
            record.Address = reader.Word(2);  // whatever the length byte says
            records.push_back(std::move(record));
            return records;
        } else {
            const size_t length = PayloadLength(lengthByte);
            record.Data = reader.Bytes(2, length);
            reader.Advance(2 + length);
        }
        records.push_back(std::move(record));
    }
}

std::vector<LoadRecord> MergeLoadBlocks(const std::vector<LoadRecord>& records) {
    std::vector<LoadRecord> merged;
    merged.reserve(records.size());
    // End address of the last block taken; held without 16-bit wrap-around, so a block
    // that ends at 10000H never joins one at 0000H.
    std::optional<uint32_t> blockEnd;
    for (const LoadRecord& record : records) {
        if (record.Type != LoadBlockRecord) {
            merged.push_back(record);
            blockEnd.reset();
        } else if (blockEnd && *blockEnd == record.Address) {
            std::vector<uint8_t>& data = merged.back().Data;
            data.insert(data.end(), record.Data.begin(), record.Data.end());
            *blockEnd += static_cast<uint32_t>(record.Data.size());
        } else {
            merged.push_back(record);
            blockEnd = record.Address + static_cast<uint32_t>(record.Data.size());
        }
    }
    return merged;
}

}  // namespace CMDFile
