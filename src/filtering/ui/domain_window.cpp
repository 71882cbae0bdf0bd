#include "filtering/ui/domain_window.h"

#include "components/design_fonts.h"
#include "listio/listio.h"
#include "platform/ui/codepage.h"
#include "platform/ui/fixed_colours.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace vq::filtering {

enum Column { DomainColumn, CountColumn, ShareColumn, BarColumn, ColumnCount };

// The rows as they are sorted now. Domains are shown decoded from code page
// 936 and kept as their bytes, which the CSV file and the OR list receive.
class DomainTableModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setCounts(DomainCounts counts) {
        beginResetModel();
        counts_ = std::move(counts);
        largest_ = counts_.rows.empty() ? 0 : counts_.rows.front().count;
        for (const DomainRow& r : counts_.rows)
            largest_ = std::max(largest_, r.count);
        endResetModel();
    }
    const DomainCounts& counts() const { return counts_; }
    // The bar's length, 0 to 1: the largest count fills the column.
    double barShare(int row) const {
        return largest_ > 0 ? double(counts_.rows[row].count) / double(largest_) : 0;
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(counts_.rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : ColumnCount;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        const DomainRow& r = counts_.rows[index.row()];
        if (role == Qt::TextAlignmentRole)
            return index.column() == DomainColumn ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                                  : QVariant(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole) return {};
        switch (index.column()) {
        case DomainColumn:
            return platform::fromCodePage(r.domain);
        case CountColumn:
            return QString::number(r.count);
        case ShareColumn:
            return QStringLiteral("%1%").arg(
                counts_.valid > 0 ? 100.0 * double(r.count) / double(counts_.valid) : 0.0, 0, 'f',
                2);
        default:
            return {};
        }
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
        static const QString names[ColumnCount] = {QStringLiteral("域名"), QStringLiteral("数量"),
                                                   QStringLiteral("占比"), QStringLiteral("分布")};
        return names[section];
    }
    // The domain column by bytes; the others by count, descending being the
    // table's own order and ascending its reverse.
    void sort(int column, Qt::SortOrder order) override {
        Q_EMIT layoutAboutToBeChanged();
        auto& rows = counts_.rows;
        const bool up = order == Qt::AscendingOrder;
        if (column == DomainColumn)
            std::sort(rows.begin(), rows.end(), [up](const DomainRow& a, const DomainRow& b) {
                return up ? a.domain < b.domain : b.domain < a.domain;
            });
        else
            std::sort(rows.begin(), rows.end(), [up](const DomainRow& a, const DomainRow& b) {
                return up ? comesBefore(b, a) : comesBefore(a, b);
            });
        Q_EMIT layoutChanged();
    }

private:
    DomainCounts counts_;
    int64_t largest_ = 0;
};

namespace {

// Draws each row's bar in navy, as the gauge draws its own.
class BarDelegate : public QStyledItemDelegate {
public:
    BarDelegate(const DomainTableModel* model, QObject* parent)
        : QStyledItemDelegate(parent), model_(model) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(p, option, index);
        const QRect room = option.rect.adjusted(2, 3, -2, -3);
        const int width =
            std::max(1, static_cast<int>(room.width() * model_->barShare(index.row()) + 0.5));
        p->fillRect(QRect(room.left(), room.top(), width, room.height()), QColor(0, 0, 128));
    }

private:
    const DomainTableModel* model_;
};

QLabel* caption(QWidget* parent, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setFont(components::songFont(12));
    platform::setTextOnFixedFace(l, QColor(0, 0, 255));
    return l;
}

QLabel* value(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(components::arialFont(12));
    platform::setTextOnFixedFace(l, Qt::black);
    l->setMinimumWidth(64);
    return l;
}

} // namespace

DomainWindow::DomainWindow(QWidget* owner, std::function<void(std::string_view)> addParameter)
    : QWidget(owner, Qt::Window), model_(new DomainTableModel(this)),
      addParameter_(std::move(addParameter)) {
    setObjectName(QStringLiteral("DomainWindow"));
    setWindowTitle(QStringLiteral("域名统计"));
    setFont(components::formFont());

    saveDialog.kind = platform::DialogKind::Save;
    saveDialog.name = QStringLiteral("DomainTableDialog");
    saveDialog.filter = QStringLiteral("CSV files(*.csv)|*.csv|All files(*.*)|*.*");
    saveDialog.defaultExt = QStringLiteral("csv");
    saveDialog.overwritePrompt = true;

    table = new QTableView(this);
    table->setObjectName(QStringLiteral("DomainTable"));
    table->setModel(model_);
    table->setItemDelegateForColumn(BarColumn, new BarDelegate(model_, table));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(18);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setColumnWidth(DomainColumn, 170);
    table->setColumnWidth(CountColumn, 70);
    table->setColumnWidth(ShareColumn, 60);
    table->setToolTip(QStringLiteral("单击可将该域名添加到或条件过滤参数列表"));
    // The table's own order, count first, until the user sorts by a header.
    table->horizontalHeader()->setSortIndicator(CountColumn, Qt::DescendingOrder);
    table->setSortingEnabled(true);
    connect(table, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid() && addParameter_)
            addParameter_("@" + model_->counts().rows[index.row()].domain);
    });

    read = value(this, "DomainRead");
    valid = value(this, "DomainValid");
    invalid = value(this, "DomainInvalid");
    domains = value(this, "DomainCount");
    auto* totals = new QHBoxLayout;
    for (auto [text, label] :
         {std::pair{QStringLiteral("地址总数"), read}, std::pair{QStringLiteral("有效地址"), valid},
          std::pair{QStringLiteral("无效列表"), invalid},
          std::pair{QStringLiteral("域名数量"), domains}}) {
        totals->addWidget(caption(this, text));
        totals->addWidget(label);
    }
    totals->addStretch(1);

    saveButton = new QPushButton(QStringLiteral("保存统计表(&S)"), this);
    saveButton->setObjectName(QStringLiteral("SaveTableButton"));
    saveButton->setFont(components::songFont(12));
    connect(saveButton, &QPushButton::clicked, this,
            [this] { platform::guarded(this, [this] { saveTable(); }); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(saveButton);

    auto* column = new QVBoxLayout(this);
    column->addWidget(table, 1);
    column->addLayout(totals);
    column->addLayout(buttons);
    // Wide enough for the totals from the start, so it never grows once shown.
    resize(QSize(520, 480).expandedTo(minimumSizeHint()));
}

DomainWindow::~DomainWindow() = default;

void DomainWindow::showCounts(const std::string& fileName, DomainCounts counts) {
    setWindowTitle(QStringLiteral("域名统计 - %1").arg(platform::fromFileName(fileName)));
    read->setText(QString::number(counts.read));
    valid->setText(QString::number(counts.valid));
    invalid->setText(QString::number(counts.invalid()));
    domains->setText(QString::number(counts.rows.size()));
    model_->setCounts(std::move(counts));
    // A new list comes in the table's own order.
    table->horizontalHeader()->setSortIndicator(CountColumn, Qt::DescendingOrder);
    table->scrollToTop();
}

void DomainWindow::saveTable() {
    saveDialog.title = kDomainTableTitle;
    if (!platform::execute(saveDialog, this)) return;
    listio::saveText(saveDialog.fileName, domainsCsv(model_->counts().rows));
}

void runDomainCount(QWidget* window, platform::FileDialog& openDialog, DomainWindow& domains) {
    openDialog.title = kDomainListTitle;
    if (!platform::execute(openDialog, window)) return;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    struct RestoreCursor {
        ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    DomainCounts counts = countDomains(openDialog.fileName);
    domains.showCounts(openDialog.fileName, std::move(counts));
    if (!domains.isVisible() && !domains.placed) {
        // Over the middle of the main window the first time; later where
        // the user left it.
        const QRect owner = window->frameGeometry();
        domains.move(owner.center() - QPoint(domains.width() / 2, domains.height() / 2));
        domains.placed = true;
    }
    domains.show();
    domains.raise();
    domains.activateWindow();
}

} // namespace vq::filtering
