// The program's icon, drawn in code so it needs no image plug-in.
#pragma once

#include <QIcon>

namespace App {

QIcon ProgramIcon();

}  // namespace App
