// qbox convert: the same floppy disk in another image format.
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "diskimage/ImageConvert.h"
#include "filesystem/MountedDisk.h"

namespace Qbox {

namespace {

struct ConvertOptions {
    std::string Input;
    std::string Output;
    std::string Type;
    bool Force = false;
};

int RunConvert(const ConvertOptions& options) {
    const DiskImage::TImageTypeInfo* type = DiskImage::FindImageTypeByKey(options.Type);
    auto result = DiskImage::ConvertImage(options.Input, options.Output, type->Type, options.Force,
                                          FileSystem::JudgeDosReading);
    std::cout << Printable(options.Output) << ": " << result.Sectors << " sectors on " << result.Tracks << " tracks copied to "
              << type->Name << '\n';
    return ExitOk;
}

}  // namespace

void AddConvertVerb(CLI::App& app, RunResult& result) {
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* verb = app.add_subcommand(
        "convert",
        "Copy a floppy image into a new image of another format, track by track: sector numbers, densities, "
        "data marks, CRC errors and sector order. Refuses, writing nothing, when the new format cannot hold "
        "every sector (JV1 holds only single-density 256-byte sectors 0 to 9 on side 0)");
    verb->add_option("IN", options->Input, "Floppy image to copy")->required();
    verb->add_option("OUT", options->Output, "New image file")->required();
    verb->add_option("--type", options->Type, "Format of the new image: " + ImageTypeKeysText())
        ->required()
        ->check(CLI::IsMember(ImageTypeKeys()));
    verb->add_flag("-f,--force", options->Force, "Replace OUT when it exists");
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Input, [&] { return RunConvert(*options); });
    });
}

}  // namespace Qbox
