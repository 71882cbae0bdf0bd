#include "filtering/ui/parameter_grid.h"

#include "platform/ui/codepage.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyledItemDelegate>

#include <algorithm>
#include <climits>

// ---- model ----

TParameterListModel::TParameterListModel(QObject* parent) : QAbstractTableModel(parent) {}

int TParameterListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : list_.rowCount();
}

int TParameterListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QVariant TParameterListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    return vq::platform::fromCodePage(list_.row(index.row()));
}

bool TParameterListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.row() >= list_.rowCount()) return false;
    list_.setRow(index.row(), vq::platform::toCodePage(value.toString()));
    Q_EMIT dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

Qt::ItemFlags TParameterListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemNeverHasChildren;
}

template <class Change> void TParameterListModel::resize(int after, Change&& change) {
    const int before = list_.rowCount();
    if (after > before) {
        beginInsertRows(QModelIndex(), before, after - 1);
        change();
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows(QModelIndex(), after, before - 1);
        change();
        endRemoveRows();
    } else {
        change();
    }
}

void TParameterListModel::rowsChanged(int first, int last) {
    last = std::min(last, list_.rowCount() - 1);
    if (first <= last) Q_EMIT dataChanged(index(first, 0), index(last, 0));
}

// Add and delete touch one or two rows, so a list of any length changes in
// place; only the rows they write are repainted.
void TParameterListModel::add(const QString& entryText) {
    addBytes(vq::platform::toCodePage(entryText));
}

void TParameterListModel::addBytes(std::string_view bytes) {
    const int64_t row = std::max<int64_t>(list_.parameterCount(), 0);
    if (row >= INT_MAX) return; // no grid holds more rows
    resize(static_cast<int>(row) + 1, [&] { list_.add(bytes); });
    rowsChanged(static_cast<int>(row), static_cast<int>(row));
}

void TParameterListModel::remove(int topRow) {
    if (topRow < 0 || topRow >= list_.rowCount()) return;
    const int last = list_.rowCount() - 1;
    resize(std::max(last, 1), [&] { list_.remove(topRow); });
    rowsChanged(topRow, topRow);
}

void TParameterListModel::importFile(const std::string& fileName) {
    // Read into a list of its own, so a failed import leaves this one as it was.
    vq::filtering::ParameterList imported;
    imported.importFile(fileName);
    resize(imported.rowCount(), [&] { list_ = std::move(imported); });
    rowsChanged(0, list_.rowCount() - 1);
}

void TParameterListModel::exportFile(const std::string& fileName) const {
    list_.exportFile(fileName);
}

// ---- the in-place editor ----

namespace {

// A line edit that stays open on the current cell and hands every keystroke
// to the list at once, so a filter started while it is open uses what is
// typed.
class ParameterDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        auto* edit = new QLineEdit(parent);
        edit->setFrame(false);
        // Right clicks on the editor belong to the grid's pop-up menu.
        edit->setContextMenuPolicy(Qt::NoContextMenu);
        auto* self = const_cast<ParameterDelegate*>(this);
        QObject::connect(edit, &QLineEdit::textEdited, self,
                         [self, edit] { Q_EMIT self->commitData(edit); });
        return edit;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* edit = static_cast<QLineEdit*>(editor);
        const QString text = index.data(Qt::EditRole).toString();
        // Echoes of the user's own keystrokes must not reset the cursor.
        if (edit->text() != text) edit->setText(text);
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        auto* edit = static_cast<QLineEdit*>(editor);
        // Only typing replaces a row's bytes; an untouched row keeps bytes
        // that code page 936 could not reproduce.
        if (!edit->isModified()) return;
        model->setData(index, edit->text(), Qt::EditRole);
    }

    // The editor never closes: Enter, Escape, Tab and losing the focus keep
    // their ordinary meaning for a line edit and the window.
    bool eventFilter(QObject*, QEvent*) override { return false; }
};

} // namespace

// ---- view ----

TParameterGrid::TParameterGrid(QWidget* parent)
    : QTableView(parent), model_(new TParameterListModel(this)) {
    setModel(model_);
    setItemDelegate(new ParameterDelegate(this));
    for (QHeaderView* h : {horizontalHeader(), verticalHeader()}) {
        h->hide();
        h->setMinimumSectionSize(1);
        h->setSectionResizeMode(QHeaderView::Fixed);
    }
    horizontalHeader()->setDefaultSectionSize(240);
    verticalHeader()->setDefaultSectionSize(18);
    setShowGrid(true);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers); // the open editor does the editing
    setTabKeyNavigation(false);
    setToolTip(QStringLiteral("单击鼠标右键可删除参数"));
    setCurrentIndex(model_->index(0, 0));
}

int TParameterGrid::selectionTop() const {
    int top = -1;
    for (const QItemSelectionRange& r : selectionModel()->selection())
        if (top < 0 || r.top() < top) top = r.top();
    if (top < 0) top = currentIndex().isValid() ? currentIndex().row() : 0;
    return top;
}

void TParameterGrid::showEditor(const QModelIndex& index, bool focus) {
    if (!isPersistentEditorOpen(index)) openPersistentEditor(index);
    if (QWidget* w = indexWidget(index); w && focus) w->setFocus();
}

void TParameterGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    // Asked before the old editor goes, since hiding it moves the focus.
    QWidget* old = previous.isValid() ? indexWidget(previous) : nullptr;
    const bool hadFocus = hasFocus() || (old && old->hasFocus());
    if (old && isPersistentEditorOpen(previous)) closePersistentEditor(previous);
    QTableView::currentChanged(current, previous);
    if (current.isValid()) showEditor(current, hadFocus);
}

void TParameterGrid::focusInEvent(QFocusEvent* e) {
    QTableView::focusInEvent(e);
    if (QWidget* w = indexWidget(currentIndex())) w->setFocus();
}

void TParameterGrid::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        e->accept();
        return;
    }
    QTableView::mousePressEvent(e);
}

void TParameterGrid::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        e->accept();
        return;
    }
    QTableView::mouseReleaseEvent(e);
}

void TParameterGrid::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        e->accept();
        return;
    }
    QTableView::mouseDoubleClickEvent(e);
}

QTableView* createParameterGrid(QWidget* parent, TParameterListModel** list) {
    auto* grid = new TParameterGrid(parent);
    if (list) *list = grid->parameters();
    return grid;
}

TParameterListModel* parameterModel(const QTableView* grid) {
    auto* g = qobject_cast<const TParameterGrid*>(grid);
    return g ? g->parameters() : nullptr;
}
