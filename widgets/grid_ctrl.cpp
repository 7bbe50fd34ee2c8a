#include "widgets/grid_ctrl.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QStyledItemDelegate>

namespace {

// The text a cell held before an edit, for a refused one.
constexpr int kKeptRole = Qt::UserRole + 7;


// Editors by column kind: a line edit, right-aligned for numbers, or an
// editable combo box offering the column's choices.
class GridDelegate : public QStyledItemDelegate {
public:
    GridDelegate(const CGridCtrl& grid, QObject* parent) : QStyledItemDelegate(parent), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        const auto& cols = grid_.columns();
        const int c = index.column();
        if (c < 0 || c >= static_cast<int>(cols.size())) return QStyledItemDelegate::createEditor(parent, option, index);
        if (cols[c].kind == CGridCtrl::Choice) {
            auto* box = new QComboBox(parent);
            box->setEditable(true);
            box->addItems(cols[c].choices);
            box->setObjectName("gridEditor");
            return box;
        }
        auto* edit = new QLineEdit(parent);
        edit->setObjectName("gridEditor");
        edit->setFrame(false);
        if (cols[c].kind == CGridCtrl::Number) edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return edit;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        const QString text = index.data(Qt::EditRole).toString();
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            box->setCurrentText(text);
            return;
        }
        if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            edit->setText(text);
            edit->selectAll();
        }
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        QString text;
        if (auto* box = qobject_cast<QComboBox*>(editor)) text = box->currentText();
        else if (auto* edit = qobject_cast<QLineEdit*>(editor)) text = edit->text();
        else return QStyledItemDelegate::setModelData(editor, model, index);
        model->setData(index, text, Qt::EditRole);
    }

private:
    const CGridCtrl& grid_;
};

} // namespace

CGridCtrl::CGridCtrl(QWidget* parent) : QTableWidget(parent)
{
    setItemDelegate(new GridDelegate(*this, this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    connect(this, &QTableWidget::itemChanged, this, &CGridCtrl::onItemChanged);
}

void CGridCtrl::setColumns(std::vector<Column> columns)
{
    columns_ = std::move(columns);
    ++quiet_;
    setColumnCount(static_cast<int>(columns_.size()));
    QStringList headers;
    for (const auto& c : columns_) headers << c.header;
    setHorizontalHeaderLabels(headers);
    for (int c = 0; c < static_cast<int>(columns_.size()); ++c) {
        const int w = columns_[c].width > 0
                          ? columns_[c].width
                          : fontMetrics().horizontalAdvance(columns_[c].header) + 24;
        setColumnWidth(c, w);
    }
    --quiet_;
}

QString CGridCtrl::cellText(int row, int column) const
{
    const QTableWidgetItem* it = item(row, column);
    return it ? it->text() : QString();
}

void CGridCtrl::setCellText(int row, int column, const QString& text)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return;
    ++quiet_;
    QTableWidgetItem* it = ensureItem(row, column);
    it->setText(text);
    it->setData(kKeptRole, text);
    --quiet_;
}

void CGridCtrl::clearCells()
{
    ++quiet_;
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            if (QTableWidgetItem* it = item(r, c)) {
                it->setText(QString());
                it->setData(kKeptRole, QString());
            }
    --quiet_;
}

void CGridCtrl::setRowColours(int row, const QColor& background, const QColor& foreground)
{
    if (row < 0 || row >= rowCount()) return;
    rowColours_[row] = {background, foreground};
    ++quiet_;
    for (int c = 0; c < columnCount(); ++c) applyRowColours(ensureItem(row, c), row);
    --quiet_;
}

void CGridCtrl::clearRowColours(int row)
{
    if (rowColours_.erase(row) == 0) return;
    ++quiet_;
    for (int c = 0; c < columnCount(); ++c)
        if (QTableWidgetItem* it = item(row, c)) applyRowColours(it, row);
    --quiet_;
}

std::pair<QColor, QColor> CGridCtrl::rowColours(int row) const
{
    const auto found = rowColours_.find(row);
    return found == rowColours_.end() ? std::pair<QColor, QColor>{} : found->second;
}

void CGridCtrl::ensureRowVisible(int row)
{
    if (row < 0 || row >= rowCount() || columnCount() == 0) return;
    scrollToItem(ensureItem(row, 0), QAbstractItemView::EnsureVisible);
}

void CGridCtrl::setReadOnly(bool readOnly)
{
    readOnly_ = readOnly;
    if (readOnly) {
        // An open editor would otherwise commit into a running table: drop it.
        // Closed editors linger hidden until deleted; only the open one counts.
        if (isEditing())
            for (QWidget* editor : findChildren<QWidget*>("gridEditor"))
                if (editor->isVisible()) closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
    } else {
        setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                        QAbstractItemView::AnyKeyPressed);
    }
}

bool CGridCtrl::editCell(int row, int column)
{
    if (readOnly_ || row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return false;
    QTableWidgetItem* it = ensureItem(row, column);
    setCurrentItem(it);
    editItem(it);
    return state() == QAbstractItemView::EditingState;
}

QTableWidgetItem* CGridCtrl::ensureItem(int row, int column)
{
    QTableWidgetItem* it = item(row, column);
    if (it) return it;
    ++quiet_;
    it = new QTableWidgetItem;
    decorate(it, row, column);
    setItem(row, column, it);
    --quiet_;
    return it;
}

void CGridCtrl::decorate(QTableWidgetItem* item, int row, int column) const
{
    if (column < static_cast<int>(columns_.size()) && columns_[column].kind == Number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    else
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    applyRowColours(item, row);
}

void CGridCtrl::applyRowColours(QTableWidgetItem* item, int row) const
{
    const auto found = rowColours_.find(row);
    if (found == rowColours_.end()) {
        item->setData(Qt::BackgroundRole, QVariant());
        item->setData(Qt::ForegroundRole, QVariant());
    } else {
        item->setBackground(found->second.first);
        item->setForeground(found->second.second);
    }
}

void CGridCtrl::onItemChanged(QTableWidgetItem* changed)
{
    if (quiet_ > 0 || !changed) return;
    const int r = changed->row();
    const int c = changed->column();
    QString text = changed->text();
    if (c >= 0 && c < static_cast<int>(columns_.size()) && columns_[c].normalise) {
        text = columns_[c].normalise(text);
        if (text != changed->text()) {
            ++quiet_;
            changed->setText(text);
            --quiet_;
        }
    }
    const bool refused = c >= 0 && c < static_cast<int>(columns_.size()) && columns_[c].accepts &&
                         !columns_[c].accepts(text);
    // Colours and alignment of a fresh item the editor created.
    ++quiet_;
    if (refused) changed->setText(changed->data(kKeptRole).toString());
    else changed->setData(kKeptRole, text);
    decorate(changed, r, c);
    --quiet_;
    if (refused) emit cellRefused(r, c, text);
    else emit cellEdited(r, c, text);
}
