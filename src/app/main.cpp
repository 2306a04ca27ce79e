// quarrybox: the desktop program.
#include <QApplication>
#include <QSettings>

#include "AppIcon.h"
#include "DesktopPrompts.h"
#include "MainFrame.h"
#include "Preferences.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(App::SettingsOrganisation);
    QApplication::setApplicationName(App::SettingsApplication);
    QApplication::setApplicationVersion(QB_VERSION);
    QApplication::setWindowIcon(App::ProgramIcon());

    QSettings settings(App::SettingsOrganisation, App::SettingsApplication);
    const App::TPreferences preferences = App::TPreferences::Load(settings);

    App::CDesktopPrompts prompts;
    App::CMainFrame window(prompts, preferences);
    prompts.SetOwner(&window);
    window.SetPreferencesWriter([](const App::TPreferences& current) {
        QSettings store(App::SettingsOrganisation, App::SettingsApplication);
        current.Save(store);
    });
    window.show();
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    window.Start(arguments);
    return application.exec();
}
