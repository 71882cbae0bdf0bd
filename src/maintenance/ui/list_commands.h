#pragma once
// The list commands of the main window's maintenance menu: the manual merge,
// the splitter and self-add.
#include "platform/ui/services.h"

class QFrame;
class QLabel;

namespace vq::maintenance {

// A and B, then the merged list's name; the merge runs with a busy cursor
// over `busyPanel` (the strip of it that no child covers).
void runManualMerge(QWidget* window, platform::FileDialog& openA, platform::FileDialog& openB,
                    platform::FileDialog& save, QFrame* busyPanel);
// The list, then the part size and the base name; `lines` shows the list's
// line count, `files` the number of files made.
void runSplit(QWidget* window, platform::FileDialog& open, QLabel* lines, QLabel* files);
// The typed address, then the list it is appended to.
void runSelfAdd(QWidget* window, platform::FileDialog& open);

} // namespace vq::maintenance
