// qbox: the command-line face of Quarrybox. One verb per job; each verb lives
// in its own unit and joins through the table below.
#include <algorithm>
#include <initializer_list>
#include <iostream>
#include <string_view>

#include "cli/Cli.h"

namespace {

// The verbs, in the order --help lists them, with the names each unit adds. A new verb
// unit adds one line.
struct VerbUnit {
    std::initializer_list<std::string_view> Names;
    Qbox::VerbAdder Add;
};
const VerbUnit Verbs[] = {
    {{"info"}, Qbox::AddInfoVerb},
    {{"ls"}, Qbox::AddListVerb},
    {{"get", "cat"}, Qbox::AddExtractVerbs},
    {{"put"}, Qbox::AddPutVerb},
    {{"rm", "mv", "attr", "label"}, Qbox::AddEditVerbs},
    {{"new", "protect"}, Qbox::AddImageVerbs},
    {{"view"}, Qbox::AddViewVerb},
    {{"patch-dates"}, Qbox::AddPatchDatesVerb},
    {{"convert"}, Qbox::AddConvertVerb},
    {{"check"}, Qbox::AddCheckVerb},
    {{"export"}, Qbox::AddExportVerb},
    {{"catalog"}, Qbox::AddCatalogVerb},
#ifdef QB_HAVE_FUSE
    {{"mount"}, Qbox::AddMountVerb},
#endif
};

// A run names its verb first; only that verb's parser is built, since building all of
// them costs more than listing a floppy. Anything else (help, --version, a mistyped
// verb) gets every verb, so that help and the usage messages stay whole.
void AddVerbs(CLI::App& app, Qbox::RunResult& result, int argc, char** argv) {
    if (argc > 1) {
        const std::string_view named = argv[1];
        for (const VerbUnit& unit : Verbs) {
            if (std::find(unit.Names.begin(), unit.Names.end(), named) != unit.Names.end()) {
                unit.Add(app, result);
                return;
            }
        }
    }
    for (const VerbUnit& unit : Verbs) unit.Add(app, result);
}

// The error reaches the top-level parser whichever verb it came from; the verb that was
// being parsed is the one whose help answers it.
std::string UsageFailure(const CLI::App* app, const CLI::Error& error) {
    std::string command = "qbox";
    const auto verbs = app->get_subcommands();
    if (!verbs.empty()) command += " " + verbs.front()->get_name();
    return std::string("qbox: ") + error.what() + "\nRun '" + command + " --help' for more information.\n";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Lists, extracts, adds, renames and deletes files on TRS-80 disk images (JV1, JV3, DMK floppies; HDV "
        "and memory-card hard disks) and creates new floppies.\n"
        "Every verb takes the image path first. Names on the disk are matched as the DOS matches them, so "
        "GAME/BAS, game.bas and 'G*/BAS' all work; '*' covers every file.\n"
        "Exit status: 0 success, 1 an operation failed (message on stderr), 2 wrong usage.",
        "qbox"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "qbox 0.1");
    app.failure_message(UsageFailure);

    Qbox::RunResult result;
    AddVerbs(app, result, argc, argv);
    for (CLI::App* verb : app.get_subcommands({})) verb->failure_message(UsageFailure);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? Qbox::ExitOk : Qbox::ExitUsage;
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "qbox: error writing to standard output\n";
        return Qbox::ExitFailure;
    }
    return result.ExitCode;
}
