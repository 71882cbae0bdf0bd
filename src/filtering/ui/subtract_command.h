#pragma once
// Removing a suppression list from the main window: the list, the
// suppression lists (several at once), the kept and the removed file, then
// the counts in the filters' statistics row.
#include "platform/ui/services.h"

class QLabel;

namespace vq::filtering {

struct SubtractWindowParts {
    QWidget* window = nullptr; // owns the dialogs; repainted while the list is read
    platform::FileDialog* openDialog = nullptr;        // the list
    platform::FileDialog* suppressionDialog = nullptr; // the suppression lists
    platform::FileDialog* keptDialog = nullptr;        // the lines on no suppression list
    platform::FileDialog* removedDialog = nullptr;     // the lines that are on one
    QLabel *read = nullptr, *removed = nullptr, *kept = nullptr, *invalid = nullptr;
};

inline const QString kSubtractListTitle = QStringLiteral("选择待剔除退订地址的邮件列表文件");
inline const QString kSuppressionTitle = QStringLiteral("选择退订列表文件(可多选)");
inline const QString kKeptTitle = QStringLiteral("剔除退订地址后的列表文件保存为");
inline const QString kRemovedTitle = QStringLiteral("被剔除的退订地址列表文件保存为");

// The four dialogs, one pass, and the four counts; no message box.
void runSubtract(const SubtractWindowParts& parts);

} // namespace vq::filtering
