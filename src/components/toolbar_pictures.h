#pragma once
// The pictures of the program: the 32 x 32 program icon and the seven
// toolbar pictures, drawn at start-up so they stay sharp and need no files.
#include <QIcon>
#include <QPixmap>

namespace vq::components {

enum class ToolPicture { AutoMerge, AutoSplit, CheckDuplicates, OrFilter, AndFilter, Help, Update };

QPixmap toolbarPicture(ToolPicture which);
QIcon programIcon();

} // namespace vq::components
