#pragma once
// StringGrid2 and StringGrid3: views on a parameter list (one column 240
// pixels wide, 18-pixel rows, grid lines, range selection, vertical scroll
// bar only, the editor always shown on the current cell).
#include "filtering/parameter_list.h"

#include <QAbstractTableModel>
#include <QTableView>

// The Qt face of one parameter list. Cells show the stored bytes decoded
// from code page 936; typed text is encoded back, so a row keeps its exact
// bytes until the user edits it.
class TParameterListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TParameterListModel(QObject* parent = nullptr);

    const vq::filtering::ParameterList& list() const { return list_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The four commands; each tells the views exactly which rows changed.
    void add(const QString& entryText);
    // The add command on bytes that are already the list's: a domain taken
    // from a list keeps its bytes, whatever code page they are in.
    void addBytes(std::string_view entry);
    void remove(int topRow);
    void importFile(const std::string& fileName);
    void exportFile(const std::string& fileName) const;

private:
    // Runs `change`, which leaves the list with `after` rows, between the
    // signals that tell the views which rows come or go.
    template <class Change> void resize(int after, Change&& change);
    void rowsChanged(int first, int last);

    vq::filtering::ParameterList list_;
};

class TParameterGrid : public QTableView {
    Q_OBJECT
public:
    explicit TParameterGrid(QWidget* parent = nullptr);
    TParameterListModel* parameters() const { return model_; }
    // The top row of the selected range, or the current row without one.
    int selectionTop() const;

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void focusInEvent(QFocusEvent* e) override;
    // The right button only opens the pop-up menu: the current row stays.
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void showEditor(const QModelIndex& index, bool focus);
    TParameterListModel* model_;
};

// Makes a parameter grid on its own list; `list` (optional) receives the
// list's model.
QTableView* createParameterGrid(QWidget* parent, TParameterListModel** list = nullptr);
// The list behind a grid made by createParameterGrid.
TParameterListModel* parameterModel(const QTableView* grid);
