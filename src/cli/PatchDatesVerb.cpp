// qbox patch-dates: judges the 2012 date patches of an LDOS or LS-DOS system
// disk and, unless --check is given, applies them.
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "filesystem/DatePatches.h"

namespace Qbox {

namespace {

using FileSystem::DatePatchState;
using FileSystem::TFileSystem;

struct PatchDatesOptions {
    std::string Image;
    bool Check = false;
    int Partition = 0;
};

const char* KindText(int kind) {
    switch (kind) {
        case FileSystem::DatePatchUnpatched: return "unpatched";
        case FileSystem::DatePatchPreviousEdition: return "earlier edition of the patches";
        case FileSystem::DatePatchCurrent: return "patched";
        default: return "unknown";
    }
}

void PrintState(const DatePatchState& state) {
    std::cout << "variant: ";
    if (state.Variant < 0)
        std::cout << "none\n";
    else
        std::cout << state.Variant << " (" << FileSystem::DatePatchSystemName(state.Variant) << ")\n";
    std::cout << "kind: " << state.Kind << " (" << KindText(state.Kind) << ")\n";
    std::cout << "offer: " << (state.Offer ? "yes" : "no") << '\n';
}

int RunPatchDates(const PatchDatesOptions& options) {
    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    const DatePatchState state = FileSystem::GetDatePatchState(fs);
    PrintState(state);
    if (options.Check)
        return ExitOk;
    if (state.Kind == FileSystem::DatePatchCurrent) {
        std::cout << "nothing to do: the system files already carry the current date patches\n";
        return ExitOk;
    }
    if (!state.Offer) {
        if (!fs.OffersDatePatches())
            throw Failure("not an LDOS or LS-DOS disk");
        throw Failure("no date patches apply to this disk's system files");
    }
    RequireWritable(fs);
    std::string problem;
    if (!FileSystem::ApplyDatePatches(fs, state.Variant, state.Kind, &problem))
        throw Failure(problem.empty() ? "the date patches could not be applied" : problem);
    SaveChanges(disk);
    std::cout << "patched: the " << FileSystem::DatePatchSystemName(state.Variant)
              << " system files now accept dates after 2011\n";
    return ExitOk;
}

}  // namespace

void AddPatchDatesVerb(CLI::App& app, RunResult& result) {
    auto options = std::make_shared<PatchDatesOptions>();
    CLI::App* verb = app.add_subcommand(
        "patch-dates", "Show whether an LDOS or LS-DOS system disk carries the 2012 date patches, and apply them");
    verb->add_option("IMAGE", options->Image, "Disk image")->required();
    verb->add_flag("--check", options->Check, "Only report the state (variant, kind, offer); change nothing");
    AddPartitionOption(verb, options->Partition);
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Image, [&] { return RunPatchDates(*options); });
    });
}

}  // namespace Qbox
