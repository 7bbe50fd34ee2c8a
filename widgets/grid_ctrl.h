#pragma once
// An editable table of text cells: a fixed header, a fixed number of rows and
// typed columns, edited in place. Made for step and sequence tables whose
// contents a Qt-free core owns: the window binds the grid to the core, writing
// the core's normalised texts back with setCellText().
//
// API, in short:
//  - setColumns({{"Time [ms]", CGridCtrl::Number}, {"PS", CGridCtrl::Choice,
//    {"HI", "LO"}}, ...}) fixes the columns; setRowCount(n) the data rows.
//    Rows and columns are counted from 0; the header is not a row. Vertical
//    header labels number the rows from 1.
//  - Column kinds: Text (free text, left-aligned), Number (free text,
//    right-aligned, the core decides what it means), Choice (an editable combo
//    box offering the column's choices).
//  - Column::normalise, when set, rewrites a user's edit before it is stored
//    and reported (e.g. "2.5k" -> "2.500 k").
//  - cellText()/setCellText() read and write one cell; setCellText() does not
//    report a change and does not normalise. clearCells() empties every cell.
//  - cellEdited(row, column, text) is emitted after the user has edited a cell
//    (already normalised), never for setCellText().
//  - Column::accepts, when set, can refuse an edit: the cell goes back to
//    the text it held (from setCellText or the last accepted edit) and
//    cellRefused(row, column, text) is emitted instead of cellEdited.
//  - setRowColours(row, background, foreground) highlights a row;
//    clearRowColours(row) restores the default colours. ensureRowVisible()
//    scrolls a row into view.
//  - editCell() opens a cell's editor; isEditing() tells whether one is open.
//  - setReadOnly(true) closes an open editor and refuses edits (a sequence is
//    running); the table can still be scrolled and highlighted.

#include <QColor>
#include <QStringList>
#include <QTableWidget>

#include <functional>
#include <map>
#include <utility>
#include <vector>

class CGridCtrl : public QTableWidget {
    Q_OBJECT
public:
    enum Kind { Text, Number, Choice };
    struct Column {
        QString header;
        Kind kind = Text;
        QStringList choices = {};                                 // Choice columns
        std::function<QString(const QString&)> normalise = {};    // optional
        std::function<bool(const QString&)> accepts = {};         // optional: refuses an edit
        int width = 0;                                            // 0: from the header
    };

    explicit CGridCtrl(QWidget* parent = nullptr);

    void setColumns(std::vector<Column> columns);
    const std::vector<Column>& columns() const { return columns_; }

    QString cellText(int row, int column) const;
    void setCellText(int row, int column, const QString& text);
    void clearCells();

    void setRowColours(int row, const QColor& background, const QColor& foreground);
    void clearRowColours(int row);
    // The row's highlight colours, or invalid colours when it has none.
    std::pair<QColor, QColor> rowColours(int row) const;
    void ensureRowVisible(int row);

    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return readOnly_; }

    // Starts editing a cell as a double click would (keyboard users and tests).
    bool editCell(int row, int column);
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }

signals:
    void cellEdited(int row, int column, const QString& text);
    void cellRefused(int row, int column, const QString& text);

private:
    QTableWidgetItem* ensureItem(int row, int column);
    void decorate(QTableWidgetItem* item, int row, int column) const;
    void applyRowColours(QTableWidgetItem* item, int row) const;
    void onItemChanged(QTableWidgetItem* item);

    std::vector<Column> columns_;
    std::map<int, std::pair<QColor, QColor>> rowColours_;
    bool readOnly_ = false;
    int quiet_ = 0;   // > 0 while the grid itself writes items
};
