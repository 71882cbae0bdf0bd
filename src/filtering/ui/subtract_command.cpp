#include "filtering/ui/subtract_command.h"

#include "filtering/subtract.h"

#include <QLabel>

namespace vq::filtering {

void runSubtract(const SubtractWindowParts& parts) {
    parts.openDialog->title = kSubtractListTitle;
    parts.suppressionDialog->title = kSuppressionTitle;
    parts.keptDialog->title = kKeptTitle;
    parts.removedDialog->title = kRemovedTitle;
    if (!platform::execute(*parts.openDialog, parts.window)) return;
    // The dialog is shared: it takes several files for this command only.
    platform::FileDialog& suppression = *parts.suppressionDialog;
    suppression.multiple = true;
    const bool chosen = platform::execute(suppression, parts.window);
    suppression.multiple = false;
    if (!chosen) return;
    const std::vector<std::string> suppressionFiles = suppression.fileNames;
    if (!platform::execute(*parts.keptDialog, parts.window)) return;
    if (!platform::execute(*parts.removedDialog, parts.window)) return;

    const SubtractCounts counts =
        subtractLists(parts.openDialog->fileName, suppressionFiles, parts.keptDialog->fileName,
                      parts.removedDialog->fileName, [&parts] { parts.window->repaint(); });

    parts.read->setText(QString::number(counts.read));
    parts.removed->setText(QString::number(counts.removed));
    parts.kept->setText(QString::number(counts.kept));
    parts.invalid->setText(QString::number(counts.invalid()));
}

} // namespace vq::filtering
