// qbox view: a file as the viewer shows it, as text or as a picture.
#include <iostream>
#include <map>
#include <memory>

#include "cli/Cli.h"
#include "diskimage/HostFile.h"
#include "diskimage/OutputFolder.h"
#include "filesystem/HostTransfer.h"
#include "viewer/ViewerModes.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;
using Viewer::ViewMode;

const std::map<std::string, ViewMode> ModeNames = {
    {"hex", ViewMode::Hexadecimal}, {"text", ViewMode::Text},         {"basic", ViewMode::BASIC},
    {"disasm", ViewMode::Disassembly}, {"edtasm", ViewMode::EDTASM}, {"graphics", ViewMode::Graphics},
};

struct ViewOptions {
    std::string Image;
    std::string File;
    std::string Mode;
    std::string Output;
    int Partition = 0;
};

// A carriage return, a line feed or the pair ends a line in the viewer; on the host
// each becomes one line feed.
std::string HostLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// "-" is standard output. A file is made new and renamed into place once whole, so that
// nothing standing at its name is written through and a failed run leaves no part of it.
void WriteOutput(const std::string& path, const std::string& bytes) {
    if (path.empty() || path == "-") {
        std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return;
    }
    DiskImage::TOutputFolder folder;
    std::string name;
    int error = folder.OpenFolderOf(path, name);
    if (error == 0) error = DiskImage::WriteOutputFile(folder, name, bytes, true);
    if (error != 0) throw Failure(DiskImage::OutputErrorText(error, path));
}

int RunView(const ViewOptions& options) {
    const bool graphics = options.Mode == "graphics";
    if (graphics && options.Output.empty())
        throw UsageError("the graphics mode writes a picture: name it with -o OUT (- for standard output)");

    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    int unmatched = 0;
    const std::vector<int> files = MatchFiles(fs, {options.File}, FileSystem::ListInvisible | FileSystem::ListSystem,
                                              options.Image, unmatched);
    if (files.empty()) return ExitFailure;  // reported by MatchFiles
    if (files.size() > 1) throw Failure(options.File + ": names " + std::to_string(files.size()) + " files; view one");
    const int fileIndex = files.front();

    const std::vector<uint8_t> bytes = fs.ReadFile(fileIndex);
    const std::string extension = fs.GetFileExtension(fileIndex);
    const Viewer::ViewedFile file{bytes, extension, fs.GetFileSystemType(), FileSystem::IsTextFile(extension, bytes)};
    const ViewMode mode = options.Mode.empty() ? Viewer::ChooseViewModes(file).front() : ModeNames.at(options.Mode);
    if (mode == ViewMode::Graphics && options.Output.empty()) {
        throw UsageError("the first mode of " + options.File + " is a picture: name a file for it with -o OUT");
    }

    const Viewer::Rendering rendering = Viewer::RenderView(mode, file);
    if (rendering.Mode != mode) {
        Report(options.Image, fs.GetDisplayName(fileIndex) + ": no valid load module; showing the hexadecimal dump");
    }
    if (mode == ViewMode::Graphics) {
        WriteOutput(options.Output, Viewer::EncodePortableBitmap(rendering.Image));
    } else {
        WriteOutput(options.Output, HostLineEnds(rendering.Text));
    }
    return ExitOk;
}

}  // namespace

void AddViewVerb(CLI::App& app, RunResult& result) {
    auto view = std::make_shared<ViewOptions>();
    CLI::App* verb = app.add_subcommand(
        "view", "Show a file as the file viewer does: without --mode in the viewer's first mode for it");
    verb->add_option("IMAGE", view->Image, "Disk image")->required();
    verb->add_option("FILE", view->File, "File name")->required();
    verb->add_option("-m,--mode", view->Mode,
                     "hex, text, basic, disasm (Z80 disassembly of a load module), edtasm, or graphics "
                     "(a PBM picture, written to OUT)")
        ->check(CLI::IsMember({"hex", "text", "basic", "disasm", "edtasm", "graphics"}));
    verb->add_option("-o,--output", view->Output,
                     "Host file to write to instead of standard output (- is standard output); it is made new "
                     "and takes its name once whole");
    AddPartitionOption(verb, view->Partition);
    verb->callback([view, &result] { result.ExitCode = RunVerb(view->Image, [&] { return RunView(*view); }); });
}

}  // namespace Qbox
