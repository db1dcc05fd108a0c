// The program's icon, drawn rather than shipped: a disk platter with its
// read head, at the sizes the window manager and the About box ask for.
#pragma once
#include <QIcon>

QIcon AppIcon();
