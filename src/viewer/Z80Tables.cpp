// The Z80 instruction patterns as data. Each entry is built from adjacent string
// literals; the short names below stand for the token bytes of Z80Tables.h, and a
// plain blank in a pattern is the operand separator.
#include "viewer/Z80Tables.h"

namespace Viewer {

// Mnemonic tokens, each with the separator after it.
#define LD_ "\xA0 "
#define BIT_ "\xA1 "
#define SET_ "\xA2 "
#define RES_ "\xA3 "
#define AND_ "\xA4 "
#define OR_ "\xA5 "
#define XOR_ "\xA6 "
#define CP_ "\xA7 "
#define PUSH_ "\xA8 "
#define POP_ "\xA9 "
#define ADD_ "\xAA "
#define SUB_ "\xAB "
#define SBC_ "\xAC "
#define RLC_ "\xAD "
#define RRC_ "\xAE "
#define RL_ "\xAF "
#define RR_ "\xB0 "
#define SLA_ "\xB1 "
#define SRA_ "\xB2 "
#define SLAS_ "\xB3 "
#define SRL_ "\xB4 "
// Operand tokens.
#define NN_ "\xD0"
#define N_ "\xD1"
#define HL_ "\xD2"
#define REL_ "\xD3"
#define MEM_ "\xD4"
#define H_ "\xD5"
#define L_ "\xD6"
#define JMEM_ "\xD7"
#define CBMEM_ "\xD8"
#define JNN_ "\xD9"
#define HEXRST_ "\xDA"
#define NONE_ "\xDB"
#define PORT_ "\xDC"
#define CNN_ "\xDE"

const std::array<Quarrybox::TInlineText<5>, 21> Z80Mnemonics = {{
    "LD", "BIT", "SET", "RES", "AND", "OR", "XOR", "CP", "PUSH", "POP", "ADD",
    "SUB", "SBC", "RLC", "RRC", "RL", "RR", "SLA", "SRA", "SLAS", "SRL",
}};

const Z80PatternTable Z80UnprefixedPatterns = {{
    // 00
    "NOP", LD_ "BC," NN_, LD_ "(BC),A", "INC BC", "INC B", "DEC B", LD_ "B," N_, "RLCA",
    "EX AF,AF'", ADD_ HL_ ",BC", LD_ "A,(BC)", "DEC BC", "INC C", "DEC C", LD_ "C," N_, "RRCA",
    // 10
    "DJNZ " REL_, LD_ "DE," NN_, LD_ "(DE),A", "INC DE", "INC D", "DEC D", LD_ "D," N_, "RLA",
    "JR " REL_, ADD_ HL_ ",DE", LD_ "A,(DE)", "DEC DE", "INC E", "DEC E", LD_ "E," N_, "RRA",
    // 20
    "JR NZ," REL_, LD_ HL_ "," NN_, LD_ "(" NN_ ")," HL_, "INC " HL_,
    "INC " H_, "DEC " H_, LD_ H_ "," N_, "DAA",
    "JR Z," REL_, ADD_ HL_ "," HL_, LD_ HL_ ",(" NN_ ")", "DEC " HL_,
    "INC " L_, "DEC " L_, LD_ L_ "," N_, "CPL",
    // 30
    "JR NC," REL_, LD_ "SP," NN_, LD_ "(" NN_ "),A", "INC SP",
    "INC " MEM_, "DEC " MEM_, LD_ MEM_ "," N_, "SCF",
    "JR C," REL_, ADD_ HL_ ",SP", LD_ "A,(" NN_ ")", "DEC SP",
    "INC A", "DEC A", HEXRST_ LD_ "A," N_, "CCF",
    // 40
    LD_ "B,B", LD_ "B,C", LD_ "B,D", LD_ "B,E", LD_ "B," H_, LD_ "B," L_, LD_ "B," MEM_, LD_ "B,A",
    LD_ "C,B", LD_ "C,C", LD_ "C,D", LD_ "C,E", LD_ "C," H_, LD_ "C," L_, LD_ "C," MEM_, LD_ "C,A",
    // 50
    LD_ "D,B", LD_ "D,C", LD_ "D,D", LD_ "D,E", LD_ "D," H_, LD_ "D," L_, LD_ "D," MEM_, LD_ "D,A",
    LD_ "E,B", LD_ "E,C", LD_ "E,D", LD_ "E,E", LD_ "E," H_, LD_ "E," L_, LD_ "E," MEM_, LD_ "E,A",
    // 60: in LD H,(HL) and LD L,(HL) the register stays H or L under a prefix
    LD_ H_ ",B", LD_ H_ ",C", LD_ H_ ",D", LD_ H_ ",E",
    LD_ H_ "," H_, LD_ H_ "," L_, LD_ "H," MEM_, LD_ H_ ",A",
    LD_ L_ ",B", LD_ L_ ",C", LD_ L_ ",D", LD_ L_ ",E",
    LD_ L_ ",H", LD_ L_ "," L_, LD_ "L," MEM_, LD_ L_ ",A",
    // 70
    LD_ MEM_ ",B", LD_ MEM_ ",C", LD_ MEM_ ",D", LD_ MEM_ ",E",
    LD_ MEM_ ",H", LD_ MEM_ ",L", "HALT", LD_ MEM_ ",A",
    LD_ "A,B", LD_ "A,C", LD_ "A,D", LD_ "A,E", LD_ "A," H_, LD_ "A," L_, LD_ "A," MEM_, LD_ "A,A",
    // 80
    ADD_ "A,B", ADD_ "A,C", ADD_ "A,D", ADD_ "A,E",
    ADD_ "A," H_, ADD_ "A," L_, ADD_ "A," MEM_, ADD_ "A,A",
    "ADC A,B", "ADC A,C", "ADC A,D", "ADC A,E", "ADC A," H_, "ADC A," L_, "ADC A," MEM_, "ADC A,A",
    // 90
    SUB_ "B", SUB_ "C", SUB_ "D", SUB_ "E", SUB_ H_, SUB_ L_, SUB_ MEM_, SUB_ "A",
    SBC_ "A,B", SBC_ "A,C", SBC_ "A,D", SBC_ "A,E",
    SBC_ "A," H_, SBC_ "A," L_, SBC_ "A," MEM_, SBC_ "A,A",
    // A0
    AND_ "B", AND_ "C", AND_ "D", AND_ "E", AND_ H_, AND_ L_, AND_ MEM_, AND_ "A",
    XOR_ "B", XOR_ "C", XOR_ "D", XOR_ "E", XOR_ H_, XOR_ L_, XOR_ MEM_, XOR_ "A",
    // B0
    OR_ "B", OR_ "C", OR_ "D", OR_ "E", OR_ H_, OR_ L_, OR_ MEM_, OR_ "A",
    CP_ "B", CP_ "C", CP_ "D", CP_ "E", CP_ H_, CP_ L_, CP_ MEM_, CP_ "A",
    // C0: CBH selects the CB table and never reaches this one
    "RET NZ", POP_ "BC", "JP NZ," JNN_, "JP " JNN_, "CALL NZ," CNN_, PUSH_ "BC", ADD_ "A," N_, "RST 0H",
    "RET Z", "RET", "JP Z," JNN_, NONE_, "CALL Z," CNN_, "CALL " CNN_, "ADC A," N_, "RST 8H",
    // D0: DDH here is a second prefix, which lists the first one as DB
    "RET NC", POP_ "DE", "JP NC," JNN_, "OUT (" PORT_ "),A",
    "CALL NC," CNN_, PUSH_ "DE", SUB_ N_, "RST 10H",
    "RET C", "EXX", "JP C," JNN_, "IN A,(" PORT_ ")", "CALL C," CNN_, NONE_, SBC_ "A," N_, "RST 18H",
    // E0
    "RET PO", POP_ HL_, "JP PO," JNN_, "EX (SP)," HL_, "CALL PO," CNN_, PUSH_ HL_, AND_ N_, "RST 20H",
    "RET PE", "JP " JMEM_, "JP PE," JNN_, "EX DE," HL_, "CALL PE," CNN_, NONE_, XOR_ N_, "RST 28H",
    // F0
    "RET P", POP_ "AF", "JP P," JNN_, "DI", "CALL P," CNN_, PUSH_ "AF", OR_ N_, "RST 30H",
    "RET M", LD_ "SP," HL_, "JP M," JNN_, "EI", "CALL M," CNN_, NONE_, CP_ N_, "RST 38H",
}};

// Bits 7-6 select the group, bits 5-3 the operation or bit, bits 2-0 the operand.
const Z80PatternTable Z80CBPatterns = {{
    // 00
    RLC_ "B", RLC_ "C", RLC_ "D", RLC_ "E", RLC_ "H", RLC_ "L", RLC_ CBMEM_, RLC_ "A",
    RRC_ "B", RRC_ "C", RRC_ "D", RRC_ "E", RRC_ "H", RRC_ "L", RRC_ CBMEM_, RRC_ "A",
    RL_ "B", RL_ "C", RL_ "D", RL_ "E", RL_ "H", RL_ "L", RL_ CBMEM_, RL_ "A",
    RR_ "B", RR_ "C", RR_ "D", RR_ "E", RR_ "H", RR_ "L", RR_ CBMEM_, RR_ "A",
    SLA_ "B", SLA_ "C", SLA_ "D", SLA_ "E", SLA_ "H", SLA_ "L", SLA_ CBMEM_, SLA_ "A",
    SRA_ "B", SRA_ "C", SRA_ "D", SRA_ "E", SRA_ "H", SRA_ "L", SRA_ CBMEM_, SRA_ "A",
    SLAS_ "B", SLAS_ "C", SLAS_ "D", SLAS_ "E", SLAS_ "H", SLAS_ "L", SLAS_ CBMEM_, SLAS_ "A",
    SRL_ "B", SRL_ "C", SRL_ "D", SRL_ "E", SRL_ "H", SRL_ "L", SRL_ CBMEM_, SRL_ "A",
    // 40
    BIT_ "0,B", BIT_ "0,C", BIT_ "0,D", BIT_ "0,E", BIT_ "0,H", BIT_ "0,L", BIT_ "0," CBMEM_, BIT_ "0,A",
    BIT_ "1,B", BIT_ "1,C", BIT_ "1,D", BIT_ "1,E", BIT_ "1,H", BIT_ "1,L", BIT_ "1," CBMEM_, BIT_ "1,A",
    BIT_ "2,B", BIT_ "2,C", BIT_ "2,D", BIT_ "2,E", BIT_ "2,H", BIT_ "2,L", BIT_ "2," CBMEM_, BIT_ "2,A",
    BIT_ "3,B", BIT_ "3,C", BIT_ "3,D", BIT_ "3,E", BIT_ "3,H", BIT_ "3,L", BIT_ "3," CBMEM_, BIT_ "3,A",
    BIT_ "4,B", BIT_ "4,C", BIT_ "4,D", BIT_ "4,E", BIT_ "4,H", BIT_ "4,L", BIT_ "4," CBMEM_, BIT_ "4,A",
    BIT_ "5,B", BIT_ "5,C", BIT_ "5,D", BIT_ "5,E", BIT_ "5,H", BIT_ "5,L", BIT_ "5," CBMEM_, BIT_ "5,A",
    BIT_ "6,B", BIT_ "6,C", BIT_ "6,D", BIT_ "6,E", BIT_ "6,H", BIT_ "6,L", BIT_ "6," CBMEM_, BIT_ "6,A",
    BIT_ "7,B", BIT_ "7,C", BIT_ "7,D", BIT_ "7,E", BIT_ "7,H", BIT_ "7,L", BIT_ "7," CBMEM_, BIT_ "7,A",
    // 80
    RES_ "0,B", RES_ "0,C", RES_ "0,D", RES_ "0,E", RES_ "0,H", RES_ "0,L", RES_ "0," CBMEM_, RES_ "0,A",
    RES_ "1,B", RES_ "1,C", RES_ "1,D", RES_ "1,E", RES_ "1,H", RES_ "1,L", RES_ "1," CBMEM_, RES_ "1,A",
    RES_ "2,B", RES_ "2,C", RES_ "2,D", RES_ "2,E", RES_ "2,H", RES_ "2,L", RES_ "2," CBMEM_, RES_ "2,A",
    RES_ "3,B", RES_ "3,C", RES_ "3,D", RES_ "3,E", RES_ "3,H", RES_ "3,L", RES_ "3," CBMEM_, RES_ "3,A",
    RES_ "4,B", RES_ "4,C", RES_ "4,D", RES_ "4,E", RES_ "4,H", RES_ "4,L", RES_ "4," CBMEM_, RES_ "4,A",
    RES_ "5,B", RES_ "5,C", RES_ "5,D", RES_ "5,E", RES_ "5,H", RES_ "5,L", RES_ "5," CBMEM_, RES_ "5,A",
    RES_ "6,B", RES_ "6,C", RES_ "6,D", RES_ "6,E", RES_ "6,H", RES_ "6,L", RES_ "6," CBMEM_, RES_ "6,A",
    RES_ "7,B", RES_ "7,C", RES_ "7,D", RES_ "7,E", RES_ "7,H", RES_ "7,L", RES_ "7," CBMEM_, RES_ "7,A",
    // C0
    SET_ "0,B", SET_ "0,C", SET_ "0,D", SET_ "0,E", SET_ "0,H", SET_ "0,L", SET_ "0," CBMEM_, SET_ "0,A",
    SET_ "1,B", SET_ "1,C", SET_ "1,D", SET_ "1,E", SET_ "1,H", SET_ "1,L", SET_ "1," CBMEM_, SET_ "1,A",
    SET_ "2,B", SET_ "2,C", SET_ "2,D", SET_ "2,E", SET_ "2,H", SET_ "2,L", SET_ "2," CBMEM_, SET_ "2,A",
    SET_ "3,B", SET_ "3,C", SET_ "3,D", SET_ "3,E", SET_ "3,H", SET_ "3,L", SET_ "3," CBMEM_, SET_ "3,A",
    SET_ "4,B", SET_ "4,C", SET_ "4,D", SET_ "4,E", SET_ "4,H", SET_ "4,L", SET_ "4," CBMEM_, SET_ "4,A",
    SET_ "5,B", SET_ "5,C", SET_ "5,D", SET_ "5,E", SET_ "5,H", SET_ "5,L", SET_ "5," CBMEM_, SET_ "5,A",
    SET_ "6,B", SET_ "6,C", SET_ "6,D", SET_ "6,E", SET_ "6,H", SET_ "6,L", SET_ "6," CBMEM_, SET_ "6,A",
    SET_ "7,B", SET_ "7,C", SET_ "7,D", SET_ "7,E", SET_ "7,H", SET_ "7,L", SET_ "7," CBMEM_, SET_ "7,A",
}};

namespace {

struct EDInstruction {
    uint8_t Opcode;
    Z80PatternTable::value_type Pattern;
};

// The 58 ED-prefixed instructions; every other ED opcode is not an instruction.
// None holds an HL token, so a DD or FD prefix before ED always lists as DB.
constexpr EDInstruction EDInstructions[] = {
    {0x40, "IN B,(C)"}, {0x41, "OUT (C),B"}, {0x42, SBC_ "HL,BC"}, {0x43, LD_ "(" NN_ "),BC"},
    {0x44, "NEG"}, {0x45, "RETN"}, {0x46, "IM 0"}, {0x47, LD_ "I,A"},
    {0x48, "IN C,(C)"}, {0x49, "OUT (C),C"}, {0x4A, "ADC HL,BC"}, {0x4B, LD_ "BC,(" NN_ ")"},
    {0x4D, "RETI"}, {0x4F, LD_ "R,A"},
    {0x50, "IN D,(C)"}, {0x51, "OUT (C),D"}, {0x52, SBC_ "HL,DE"}, {0x53, LD_ "(" NN_ "),DE"},
    {0x56, "IM 1"}, {0x57, LD_ "A,I"},
    {0x58, "IN E,(C)"}, {0x59, "OUT (C),E"}, {0x5A, "ADC HL,DE"}, {0x5B, LD_ "DE,(" NN_ ")"},
    {0x5E, "IM 2"}, {0x5F, LD_ "A,R"},
    {0x60, "IN H,(C)"}, {0x61, "OUT (C),H"}, {0x62, SBC_ "HL,HL"}, {0x63, LD_ "(" NN_ "),HL"},
    {0x67, "RRD"},
    {0x68, "IN L,(C)"}, {0x69, "OUT (C),L"}, {0x6A, "ADC HL,HL"}, {0x6B, LD_ "HL,(" NN_ ")"},
    {0x6F, "RLD"},
    {0x72, SBC_ "HL,SP"}, {0x73, LD_ "(" NN_ "),SP"},
    {0x78, "IN A,(C)"}, {0x79, "OUT (C),A"}, {0x7A, "ADC HL,SP"}, {0x7B, LD_ "SP,(" NN_ ")"},
    {0xA0, "LDI"}, {0xA1, "CPI"}, {0xA2, "INI"}, {0xA3, "OUTI"},
    {0xA8, "LDD"}, {0xA9, "CPD"}, {0xAA, "IND"}, {0xAB, "OUTD"},
    {0xB0, "LDIR"}, {0xB1, "CPIR"}, {0xB2, "INIR"}, {0xB3, "OTIR"},
    {0xB8, "LDDR"}, {0xB9, "CPDR"}, {0xBA, "INDR"}, {0xBB, "OTDR"},
};

constexpr Z80PatternTable MakeEDTable() {
    Z80PatternTable table{};
    for (auto& pattern : table) pattern = {NONE_};
    for (const EDInstruction& instruction : EDInstructions) table[instruction.Opcode] = instruction.Pattern;
    return table;
}

}  // namespace

const Z80PatternTable Z80EDPatterns = MakeEDTable();

#undef LD_
#undef BIT_
#undef SET_
#undef RES_
#undef AND_
#undef OR_
#undef XOR_
#undef CP_
#undef PUSH_
#undef POP_
#undef ADD_
#undef SUB_
#undef SBC_
#undef RLC_
#undef RRC_
#undef RL_
#undef RR_
#undef SLA_
#undef SRA_
#undef SLAS_
#undef SRL_
#undef NN_
#undef N_
#undef HL_
#undef REL_
#undef MEM_
#undef H_
#undef L_
#undef JMEM_
#undef CBMEM_
#undef JNN_
#undef HEXRST_
#undef NONE_
#undef PORT_
#undef CNN_

}  // namespace Viewer
