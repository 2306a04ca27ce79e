// The viewer's decoders, each on a large input of the kind it decodes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchImages.h"
#include "viewer/Renderings.h"
#include "viewer/ViewerModes.h"

namespace {

using Viewer::ViewMode;

constexpr size_t LargeInput = 48 * 1024;

// A tokenised BASIC program of numbered lines: PRINT "HELLO";A$:GOTO 10.
std::vector<uint8_t> BasicProgram() {
    std::vector<uint8_t> bytes = {0xFF};
    uint16_t address = 0x6A00;
    for (uint16_t line = 10; bytes.size() < LargeInput; line += 10) {
        std::vector<uint8_t> body = {0xB2, ' ', '"', 'H', 'E', 'L', 'L', 'O', '"', ';', 'A', '$', ':', 0x8D, ' ',
                                     '1', '0', 0x00};
        address = static_cast<uint16_t>(address + 4 + body.size());
        bytes.insert(bytes.end(), {static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8),
                                   static_cast<uint8_t>(line & 0xFF), static_cast<uint8_t>(line >> 8)});
        bytes.insert(bytes.end(), body.begin(), body.end());
    }
    bytes.insert(bytes.end(), {0x00, 0x00});
    return bytes;
}

// EDTASM source: five line-number digits with bit 7 set, a tab, the statement, CR.
std::vector<uint8_t> EdtasmSource() {
    std::vector<uint8_t> bytes;
    for (int line = 1; bytes.size() < LargeInput; ++line) {
        char number[6];
        std::snprintf(number, sizeof number, "%05d", line % 100000);
        for (int i = 0; i < 5; ++i) bytes.push_back(static_cast<uint8_t>(number[i] | 0x80));
        const std::string text = "\tLD\tHL,3C00H\t;SCREEN\r";
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    return bytes;
}

// A load module of 128-byte blocks of random code, then the transfer address.
std::vector<uint8_t> LoadModule() {
    std::vector<uint8_t> code = BenchImages::RandomBytes(LargeInput, 7);
    std::vector<uint8_t> bytes;
    for (size_t offset = 0; offset < code.size(); offset += 128) {
        uint16_t address = static_cast<uint16_t>(0x5200 + offset);
        bytes.insert(bytes.end(), {0x01, 0x82, static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8)});
        bytes.insert(bytes.end(), code.begin() + static_cast<long>(offset), code.begin() + static_cast<long>(offset) + 128);
    }
    bytes.insert(bytes.end(), {0x02, 0x02, 0x00, 0x52});
    return bytes;
}

std::vector<uint8_t> Text() {
    std::vector<uint8_t> bytes;
    const std::string line = "THE QUICK BROWN FOX\tJUMPS OVER THE LAZY DOG 0123456789\r";
    while (bytes.size() < LargeInput) bytes.insert(bytes.end(), line.begin(), line.end());
    return bytes;
}

struct DecoderInput {
    const char* Label;
    ViewMode Mode;
    std::vector<uint8_t> Bytes;
    const char* Extension;
};

void Decode(benchmark::State& state, const DecoderInput& input) {
    Viewer::ViewedFile file;
    file.Bytes = input.Bytes;
    file.Extension = input.Extension;
    if (Viewer::RenderView(input.Mode, file).Mode != input.Mode) {
        state.SkipWithError("the input is not of the decoder's kind");
        return;
    }
    for (auto _ : state) {
        Viewer::Rendering rendering = Viewer::RenderView(input.Mode, file);
        benchmark::DoNotOptimize(rendering.Text.data());
        benchmark::DoNotOptimize(rendering.Image.Pixels.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.Bytes.size()));
}

const int Registered = [] {
    static const std::vector<DecoderInput> inputs = {
        {"Hexadecimal", ViewMode::Hexadecimal, BenchImages::RandomBytes(LargeInput, 3), "DAT"},
        {"Text", ViewMode::Text, Text(), "TXT"},
        {"BASIC", ViewMode::BASIC, BasicProgram(), "BAS"},
        {"EDTASM", ViewMode::EDTASM, EdtasmSource(), "ASM"},
        {"Disassembly", ViewMode::Disassembly, LoadModule(), "CMD"},
        {"Graphics", ViewMode::Graphics, BenchImages::RandomBytes(Viewer::FullScreenPictureSize, 5), "HR"},
    };
    for (const DecoderInput& input : inputs)
        benchmark::RegisterBenchmark((std::string("Decode/") + input.Label).c_str(), Decode, input)
            ->Unit(benchmark::kMicrosecond);
    return 0;
}();

}  // namespace
