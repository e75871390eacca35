#pragma once

#include <QString>
#include <optional>

// Finds the application icon file from the executable's path; first hit wins:
// <exe>/../../Resources/AppIcon.png, <exe>/../share/varnix/AppIcon.png (install layout),
// <exe dir>/AppIcon.png, then walking up at most 10 directories for Sources/Varnix/AppIcon.png.
std::optional<QString> findAppIcon(const QString& executablePath);

// The icon compiled into the executable, used when no file is found.
inline constexpr char kBundledAppIcon[] = ":/varnix/AppIcon.png";
