// qbox convert: the same floppy disk in another image format.
#include <iostream>
#include <map>
#include <memory>

#include "cli/Cli.h"
#include "diskimage/ImageConvert.h"

namespace Qbox {

namespace {

const std::map<std::string, int> ImageTypes = {
    {"jv1", DiskImage::ImageJV1}, {"jv3", DiskImage::ImageJV3}, {"dmk", DiskImage::ImageDMK}};

struct ConvertOptions {
    std::string Input;
    std::string Output;
    std::string Type;
    bool Force = false;
};

int RunConvert(const ConvertOptions& options) {
    auto result = DiskImage::ConvertImage(options.Input, options.Output, ImageTypes.at(options.Type), options.Force);
    std::cout << Printable(options.Output) << ": " << result.Sectors << " sectors on " << result.Tracks << " tracks copied to "
              << DiskImage::ImageTypeName(ImageTypes.at(options.Type)) << '\n';
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
    verb->add_option("--type", options->Type, "Format of the new image: jv1, jv3 or dmk")
        ->required()
        ->check(CLI::IsMember({"jv1", "jv3", "dmk"}));
    verb->add_flag("-f,--force", options->Force, "Replace OUT when it exists");
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Input, [&] { return RunConvert(*options); });
    });
}

}  // namespace Qbox
