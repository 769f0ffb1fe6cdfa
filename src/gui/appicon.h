#pragma once

#include <QIcon>
#include <QImage>

// The program's icon, drawn rather than stored, so that every size is sharp: an orange tile (the
// marketplaces' colour) with a white parcel whose tag reads "T". The window shows it in its title
// bar and task bar; the package installs it in the icon theme at the usual sizes.
QImage DrawAppIcon(int size);
QIcon AppIcon();
