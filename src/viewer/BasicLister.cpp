#include "viewer/BasicLister.h"

namespace Viewer {

namespace {

constexpr size_t LineHeaderSize = 4;  // link and line number

// What sets one machine's tokenised BASIC apart from another's.
struct BasicDialect {
    size_t ProgramStart;  // the offset of the first line, after the file's header
    bool BigEndian;       // the byte order of line links and numbers
    // Appends the keyword of the token at bytes[at] and returns how many bytes it took.
    size_t (*ExpandToken)(std::span<const uint8_t> bytes, size_t at, std::string& out);
    // The program ends at a line whose link is zero (otherwise: at line number 0 followed by 00H).
    bool EndsAtZeroLink;
    // Tokens stored with a colon in front that the listing does not show.
    uint8_t ColonlessTokenA;
    uint8_t ColonlessTokenB;
    // TRS-80 BASIC stores an apostrophe comment as a colon, REM and FBH.
    bool ApostropheIsColonRemFB;
};

// ---------------------------------------------------------------- TRS-80 BASIC

constexpr uint8_t TokenREM = 0x93;
constexpr uint8_t TokenELSE = 0x95;
constexpr uint8_t TokenComment = 0xFB;

size_t ExpandTRS80Token(std::span<const uint8_t> bytes, size_t at, std::string& out) {
    out += BasicKeywords[bytes[at] - 0x80];
    return 1;
}

constexpr BasicDialect TRS80Basic = {1, false, ExpandTRS80Token, false, TokenELSE, TokenELSE, true};

// ---------------------------------------------------------------- Color BASIC

constexpr uint8_t ColorTokenApostrophe = 0x83;
constexpr uint8_t ColorTokenELSE = 0x84;
constexpr uint8_t ColorFunctionPrefix = 0xFF;

// A token without a keyword lists as nothing, as on the TRS-80.
void AppendKeyword(const char* keyword, std::string& out) { out += keyword; }

size_t ExpandColorToken(std::span<const uint8_t> bytes, size_t at, std::string& out) {
    const uint8_t token = bytes[at];
    if (token != ColorFunctionPrefix) {
        const size_t index = token - 0x80u;
        if (index < ColorBasicStatements.size()) AppendKeyword(ColorBasicStatements[index], out);
        return 1;
    }
    // A prefix not followed by a function byte stands alone, so the line's end is never taken with it.
    if (at + 1 >= bytes.size() || bytes[at + 1] < 0x80) return 1;
    const size_t index = bytes[at + 1] - 0x80u;
    if (index < ColorBasicFunctions.size()) AppendKeyword(ColorBasicFunctions[index], out);
    return 2;
}

constexpr BasicDialect ColorBasic = {ColorBasicHeaderSize, true, ExpandColorToken, true,
                                     ColorTokenELSE, ColorTokenApostrophe, false};

// ---------------------------------------------------------------- the scanner

enum class ScanState { LineStart, Statement, String };

class ProgramScanner {
public:
    ProgramScanner(std::span<const uint8_t> bytes, const BasicDialect& dialect)
        : bytes_(bytes), dialect_(dialect), position_(dialect.ProgramStart) {}

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

    unsigned Word(size_t at) const {
        const unsigned first = bytes_[at];
        const unsigned second = bytes_[at + 1];
        return dialect_.BigEndian ? (first << 8) | second : first | (second << 8);
    }

    bool AtProgramEnd() const {
        if (dialect_.EndsAtZeroLink) return Word(position_) == 0;
        if (Word(position_ + 2) != 0) return false;
        // Line number 0 ends the program, unless real statement bytes follow.
        return bytes_.size() - position_ <= LineHeaderSize || bytes_[position_ + LineHeaderSize] == 0x00;
    }

    bool StartLine() {
        if (bytes_.size() - position_ < LineHeaderSize || AtProgramEnd()) return false;
        output_ += std::to_string(Word(position_ + 2));
        output_ += ' ';
        position_ += LineHeaderSize;
        state_ = ScanState::Statement;
        return true;
    }

    void ScanStatementByte() {
        const uint8_t b = bytes_[position_];
        if (b == 0x00) {
            ++position_;
            output_ += '\n';
            state_ = ScanState::LineStart;
        } else if (b == ':') {
            ++position_;
            ScanColon();
        } else if (b == '"') {
            ++position_;
            output_ += '"';
            state_ = ScanState::String;
        } else if (b < 0x80) {
            ++position_;
            output_ += static_cast<char>(b);
        } else {
            position_ += dialect_.ExpandToken(bytes_, position_, output_);
        }
    }

    void ScanColon() {
        if (ByteAt(0, dialect_.ColonlessTokenA) || ByteAt(0, dialect_.ColonlessTokenB)) return;
        if (dialect_.ApostropheIsColonRemFB && ByteAt(0, TokenREM) && ByteAt(1, TokenComment)) {
            output_ += '\'';
            ++position_;  // on to the FBH, which lists as nothing
            return;
        }
        output_ += ':';
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
    const BasicDialect& dialect_;
    size_t position_;
    ScanState state_ = ScanState::LineStart;
    std::string output_;
};

}  // namespace

std::string ListBasicProgram(std::span<const uint8_t> bytes) { return ProgramScanner(bytes, TRS80Basic).List(); }

std::string ListColorBasicProgram(std::span<const uint8_t> bytes) {
    return ProgramScanner(bytes, ColorBasic).List();
}

}  // namespace Viewer
