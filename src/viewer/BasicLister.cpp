#include "viewer/BasicLister.h"

namespace Viewer {

namespace {

constexpr uint8_t TokenREM = 0x93;
constexpr uint8_t TokenELSE = 0x95;
constexpr uint8_t TokenComment = 0xFB;
constexpr size_t LineHeaderSize = 4;  // link and line number

enum class ScanState { LineStart, Statement, String };

class ProgramScanner {
public:
    explicit ProgramScanner(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    std::string List() {
        // Every step either stops or moves on by at least one byte.
        while (position_ < bytes_.size()) {
            if (state_ == ScanState::LineStart) {
                if (!StartLine()) break;
            } else if (state_ == ScanState::Statement) {
                ScanStatementByte();
            } else {
                ScanStringByte();
            }
        }
        return std::move(output_);
    }

private:
    // The byte at position_ + ahead, or nothing past the end.
    bool ByteAt(size_t ahead, uint8_t value) const {
        return ahead < bytes_.size() - position_ && bytes_[position_ + ahead] == value;
    }

    bool StartLine() {
        if (bytes_.size() - position_ < LineHeaderSize) return false;
        const unsigned lineNumber = bytes_[position_ + 2] | (bytes_[position_ + 3] << 8);
        if (lineNumber == 0) {
            // The end of the program, unless real statement bytes follow.
            if (bytes_.size() - position_ <= LineHeaderSize || bytes_[position_ + LineHeaderSize] == 0x00) {
                return false;
            }
        }
        output_ += std::to_string(lineNumber);
        output_ += ' ';
        position_ += LineHeaderSize;
        state_ = ScanState::Statement;
        return true;
    }

    void ScanStatementByte() {
        const uint8_t b = bytes_[position_++];
        if (b == 0x00) {
            output_ += '\n';
            state_ = ScanState::LineStart;
        } else if (b == ':') {
            if (ByteAt(0, TokenELSE)) return;  // ELSE is listed without its colon
            if (ByteAt(0, TokenREM) && ByteAt(1, TokenComment)) {
                output_ += '\'';
                ++position_;  // on to the FBH, which lists as nothing
                return;
            }
            output_ += ':';
        } else if (b == '"') {
            output_ += '"';
            state_ = ScanState::String;
        } else if (b < 0x80) {
            output_ += static_cast<char>(b);
        } else {
            output_ += BasicKeywords[b - 0x80];
        }
    }

    void ScanStringByte() {
        const uint8_t b = bytes_[position_++];
        if (b == 0x00) {
            output_ += '\n';  // an unterminated string ends with its line
            state_ = ScanState::LineStart;
            return;
        }
        output_ += static_cast<char>(b);
        if (b == '"') state_ = ScanState::Statement;
    }

    std::span<const uint8_t> bytes_;
    size_t position_ = 1;  // after the file marker
    ScanState state_ = ScanState::LineStart;
    std::string output_;
};

}  // namespace

std::string ListBasicProgram(std::span<const uint8_t> bytes) {
    return ProgramScanner(bytes).List();
}

}  // namespace Viewer
