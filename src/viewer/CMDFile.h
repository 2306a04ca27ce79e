// TRS-80 load modules (CMD files): a sequence of typed, length-prefixed records.
// A pure parser over bytes in memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "diskimage/Error.h"

namespace CMDFile {

// Record types with a meaning of their own; every other type carries no load data.
constexpr int LoadBlockRecord = 1;
constexpr int TransferRecord = 2;

struct LoadRecord {
    int Type = 0;           // 1 load block, 2 transfer address, else the record's type byte
    uint16_t Address = 0;   // load address (type 1), entry address (type 2), else 0
    std::vector<uint8_t> Data;  // bytes to load (type 1), payload (other types), empty (type 2)
};

class Exception : public Quarrybox::Error {
public:
    using Quarrybox::Error::Error;
};

class EInvalidFormat : public Exception {
public:
    EInvalidFormat() : Exception("Not a recognized load file format") {}
};

class EFormatError : public Exception {
public:
    EFormatError() : Exception("Load file format error") {}
};

// True when the first byte is one a load module can start with.
bool StartsLikeLoadModule(std::span<const uint8_t> bytes);

// Reads every record up to and including the transfer record.
// Throws EInvalidFormat for a file that is no load module, EFormatError for a damaged one.
std::vector<LoadRecord> ParseLoadFile(std::span<const uint8_t> bytes);

// Joins load blocks that continue exactly where the previous one ended. Records of
// other types separate blocks, so blocks on either side of them never join.
std::vector<LoadRecord> MergeLoadBlocks(const std::vector<LoadRecord>& records);

}  // namespace CMDFile
