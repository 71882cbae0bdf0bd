#pragma once
// The domain count: a window of its own, beside the main window and not
// modal to it, with a sortable table of the domains of one list (domain,
// count, share of the valid lines and a bar drawn to one scale), the
// totals, and a button that saves the table as a CSV file. A click on a row
// adds "@domain" to the OR parameter list.
#include "filtering/domain_count.h"
#include "platform/ui/services.h"

#include <QWidget>
#include <functional>
#include <string_view>

class QLabel;
class QPushButton;
class QTableView;

namespace vq::filtering {

class DomainTableModel;

inline const QString kDomainListTitle = QStringLiteral("选择待统计域名的邮件列表文件");
inline const QString kDomainTableTitle = QStringLiteral("域名统计表保存为");

class DomainWindow : public QWidget {
    Q_OBJECT
public:
    // `addParameter` takes the bytes of a row to add to the OR list.
    DomainWindow(QWidget* owner, std::function<void(std::string_view)> addParameter);
    ~DomainWindow() override;

    // Shows the counts of `fileName`, in the table's order.
    void showCounts(const std::string& fileName, DomainCounts counts);
    // The save dialog, then the table as it is sorted now, written in one
    // piece by the whole-file saver.
    void saveTable();

    QTableView* table = nullptr;
    QPushButton* saveButton = nullptr;
    QLabel *read = nullptr, *valid = nullptr, *invalid = nullptr, *domains = nullptr;
    platform::FileDialog saveDialog;
    bool placed = false; // moved to its first place

private:
    DomainTableModel* model_;
    std::function<void(std::string_view)> addParameter_;
};

// The open dialog, one pass over the list, then the window with its counts.
void runDomainCount(QWidget* window, platform::FileDialog& openDialog, DomainWindow& domains);

} // namespace vq::filtering
