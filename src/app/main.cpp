// quarrybox: the desktop program.
#include <QApplication>
#include <QSettings>

#include "AppIcon.h"
#include "DesktopPrompts.h"
#include "MainFrame.h"
#include "Preferences.h"

namespace {

using namespace App;

// A window of its own with its own prompts; it goes when closed, and every window can
// open another (File > New Window).
CMainFrame* OpenWindow(const TPreferences& preferences) {
    auto* prompts = new CDesktopPrompts;
    auto* window = new CMainFrame(*prompts, preferences);
    prompts->SetOwner(window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &QObject::destroyed, [prompts] { delete prompts; });
    window->SetPreferencesWriter([](const TPreferences& current) {
        QSettings store(SettingsOrganisation, SettingsApplication);
        current.Save(store);
    });
    window->SetWindowMaker([](const TPreferences& current, const QString& path) {
        CMainFrame* made = OpenWindow(current);
        if (!path.isEmpty()) made->OpenDisk(path);
    });
    window->show();
    return window;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(App::SettingsOrganisation);
    QApplication::setApplicationName(App::SettingsApplication);
    QApplication::setApplicationVersion(QB_VERSION);
    QApplication::setWindowIcon(App::ProgramIcon());

    QSettings settings(App::SettingsOrganisation, App::SettingsApplication);
    const App::TPreferences preferences = App::TPreferences::Load(settings);

    App::CMainFrame* window = OpenWindow(preferences);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    window->Start(arguments);
    return application.exec();
}
