#pragma once
// The OR and AND filters from the main window, and the commands of their
// parameter lists: add, delete, import and export.
#include "filtering/rule.h"
#include "platform/ui/services.h"

class QLabel;
class QTableView;

namespace vq::filtering {

// What of the main window a filter shows its work in.
struct FilterWindowParts {
    QWidget* window = nullptr; // owns the dialogs; repainted while the list is read
    platform::FileDialog* openDialog = nullptr;     // the list
    platform::FileDialog* matchingDialog = nullptr; // the lines that meet the rule
    platform::FileDialog* restDialog = nullptr;     // the other valid lines
    QLabel *read = nullptr, *matching = nullptr, *rest = nullptr, *invalid = nullptr;
};

// The three dialogs, one pass with the rows the grid shows (an open cell
// editor's text included), and the four counts.
void runFilter(const FilterWindowParts& parts, Rule rule, QTableView* grid);

void addParameter(QTableView* grid, const QString& text);
// Deletes the row at the top of the grid's selection.
void deleteParameter(QTableView* grid);
void importParameters(QTableView* grid, QWidget* window, platform::FileDialog& openDialog,
                      const QString& title);
void exportParameters(QTableView* grid, QWidget* window, platform::FileDialog& saveDialog);

} // namespace vq::filtering
