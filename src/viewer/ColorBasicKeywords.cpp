// Keywords of the Color Computer's BASIC in token order: Color BASIC, then what
// Extended, Disk and Super Extended Color BASIC added after it.
#include "viewer/BasicLister.h"

namespace Viewer {

const std::array<BasicKeyword, 0xF9 - 0x80> ColorBasicStatements = {{
    // 80: 83H is the apostrophe comment
    "FOR", "GO", "REM", "'", "ELSE", "IF", "DATA", "PRINT",
    "ON", "INPUT", "END", "NEXT", "DIM", "READ", "RUN", "RESTORE",
    // 90
    "RETURN", "STOP", "POKE", "CONT", "LIST", "CLEAR", "NEW", "CLOAD",
    "CSAVE", "OPEN", "CLOSE", "LLIST", "SET", "RESET", "CLS", "MOTOR",
    // A0
    "SOUND", "AUDIO", "EXEC", "SKIPF", "TAB(", "TO", "SUB", "THEN",
    "NOT", "STEP", "OFF", "+", "-", "*", "/", "^",
    // B0: B5H on, Extended Color BASIC
    "AND", "OR", ">", "=", "<", "DEL", "EDIT", "TRON",
    "TROFF", "DEF", "LET", "LINE", "PCLS", "PSET", "PRESET", "SCREEN",
    // C0
    "PCLEAR", "COLOR", "CIRCLE", "PAINT", "GET", "PUT", "DRAW", "PCOPY",
    "PMODE", "PLAY", "DLOAD", "RENUM", "FN", "USING", "DIR", "DRIVE",
    // D0: CEH to E1H, Disk BASIC
    "FIELD", "FILES", "KILL", "LOAD", "LSET", "MERGE", "RENAME", "RSET",
    "SAVE", "WRITE", "VERIFY", "UNLOAD", "DSKINI", "BACKUP", "COPY", "DSKI$",
    // E0: E2H on, Super Extended Color BASIC
    "DSKO$", "DOS", "WIDTH", "PALETTE", "HSCREEN", "LPOKE", "HCLS", "HCOLOR",
    "HPAINT", "HCIRCLE", "HLINE", "HGET", "HPUT", "HBUFF", "HPRINT", "ERR",
    // F0
    "BRK", "LOCATE", "HSTAT", "HSET", "HRESET", "HDRAW", "CMP", "RGB",
    "ATTR",
}};

const std::array<BasicKeyword, 0xAD - 0x80> ColorBasicFunctions = {{
    // FF 80
    "SGN", "INT", "ABS", "USR", "RND", "SIN", "PEEK", "LEN",
    "STR$", "VAL", "ASC", "CHR$", "EOF", "JOYSTK", "LEFT$", "RIGHT$",
    // FF 90: 94H on, Extended Color BASIC
    "MID$", "POINT", "INKEY$", "MEM", "ATN", "COS", "TAN", "EXP",
    "FIX", "LOG", "POS", "SQR", "HEX$", "VARPTR", "INSTR", "TIMER",
    // FF A0: A2H to A7H, Disk BASIC; A8H on, Super Extended Color BASIC
    "PPOINT", "STRING$", "CVN", "FREE", "LOC", "LOF", "MKN$", "AS",
    "LPEEK", "BUTTON", "HPOINT", "ERNO", "ERLIN",
}};

}  // namespace Viewer
