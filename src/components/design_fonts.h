#pragma once
// The design's fonts, each with the Linux faces that stand in for it where
// the Windows face is missing.
#include <QFont>

class QLabel;

namespace vq::components {

QFont formFont();        // MS Sans Serif, 8 pt: the windows' own font
QFont songFont(int px);  // SimSun (宋体): captions and buttons
QFont arialFont(int px); // Arial: counts

// The running count of the two progress windows: bold Arial, 13 px, blue,
// centred.
void showAsRunningCount(QLabel* label);

} // namespace vq::components
