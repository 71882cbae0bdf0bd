#pragma once
// The design's fonts, each with the Linux faces that stand in for it where
// the Windows face is missing.
#include <QFont>

namespace vq::components {

QFont formFont();        // MS Sans Serif, 8 pt: the windows' own font
QFont songFont(int px);  // SimSun (宋体): captions and buttons
QFont arialFont(int px); // Arial: counts

} // namespace vq::components
