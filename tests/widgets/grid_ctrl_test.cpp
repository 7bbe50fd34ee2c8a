// The grid as a user edits it: typed editors, normalised edits reported once,
// programmatic writes silent, highlight colours kept across edits, and no
// editing while read-only.
#include "widgets/grid_ctrl.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct GridFixture : ::testing::Test {
    GridFixture()
    {
        CGridCtrl::Column level{"Level", CGridCtrl::Number};
        level.accepts = [](const QString& t) { return t.isEmpty() || t.at(0).isDigit(); };
        grid.setColumns({{"Time", CGridCtrl::Number, {}, [](const QString& t) { return t.trimmed() + "!"; }},
                         {"Pin", CGridCtrl::Choice, {"HI", "LO"}},
                         {"Note", CGridCtrl::Text},
                         level});
        grid.setRowCount(20);
        grid.resize(400, 200);
        grid.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }

    // Types into the open editor of a cell and commits with Return.
    void typeInto(int row, int column, const QString& text)
    {
        ASSERT_TRUE(grid.editCell(row, column));
        QWidget* editor = nullptr;   // closed editors linger hidden until deleted
        for (QWidget* w : grid.findChildren<QWidget*>("gridEditor"))
            if (w->isVisible()) editor = w;
        ASSERT_NE(editor, nullptr);
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            box->setCurrentText(text);
            QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        } else {
            auto* edit = qobject_cast<QLineEdit*>(editor);
            ASSERT_NE(edit, nullptr);
            edit->setText(text);
            QTest::keyClick(edit, Qt::Key_Return);
        }
        // Return commits through a queued call.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !grid.isEditing(); }, 5000));
    }

    bool editorOpen() const { return grid.isEditing(); }

    CGridCtrl grid;
};

TEST_F(GridFixture, UserEditsAreNormalisedStoredAndReportedOnce)
{
    QSignalSpy spy(&grid, &CGridCtrl::cellEdited);
    typeInto(3, 0, "  42 ");
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 3);
    EXPECT_EQ(spy.at(0).at(1).toInt(), 0);
    EXPECT_EQ(spy.at(0).at(2).toString(), "42!");
    EXPECT_EQ(grid.cellText(3, 0), "42!");

    typeInto(3, 1, "LO");   // a combo box column, no normaliser
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(grid.cellText(3, 1), "LO");
}

// A refused edit puts back what the cell held, whether it came from the
// program or from an earlier edit, and is reported as refused only.
TEST_F(GridFixture, RefusedEditsKeepTheCellsTextAndAreReportedApart)
{
    QSignalSpy edited(&grid, &CGridCtrl::cellEdited);
    QSignalSpy refused(&grid, &CGridCtrl::cellRefused);
    grid.setCellText(2, 3, "1.5");
    typeInto(2, 3, "abc");
    EXPECT_EQ(grid.cellText(2, 3), "1.5");
    ASSERT_EQ(refused.count(), 1);
    EXPECT_EQ(refused.at(0).at(2).toString(), "abc");
    EXPECT_EQ(edited.count(), 0);
    typeInto(2, 3, "7");
    typeInto(2, 3, "x");
    EXPECT_EQ(grid.cellText(2, 3), "7");
    typeInto(5, 3, "y"); // a cell never written goes back to empty
    EXPECT_EQ(grid.cellText(5, 3), "");
    EXPECT_EQ(edited.count(), 1);
    EXPECT_EQ(refused.count(), 3);
}

TEST_F(GridFixture, ProgrammaticWritesAreSilentAndClearEmptiesEveryCell)
{
    QSignalSpy spy(&grid, &CGridCtrl::cellEdited);
    grid.setCellText(0, 0, "raw");
    grid.setCellText(19, 2, "last");
    grid.setCellText(20, 0, "out of range");   // ignored
    grid.setCellText(0, 3, "out of range");
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(grid.cellText(0, 0), "raw") << "setCellText does not normalise";
    EXPECT_EQ(grid.cellText(19, 2), "last");
    EXPECT_EQ(grid.cellText(20, 0), "");
    grid.clearCells();
    EXPECT_EQ(grid.cellText(0, 0), "");
    EXPECT_EQ(grid.cellText(19, 2), "");
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(GridFixture, HighlightCoversTheWholeRowSurvivesEditsAndClears)
{
    const QColor bg(0xFF, 0x99, 0x33), fg(Qt::white);
    grid.setCellText(5, 0, "x");
    grid.setRowColours(5, bg, fg);
    for (int c = 0; c < 3; ++c) {
        ASSERT_NE(grid.item(5, c), nullptr) << "empty cells are coloured too";
        EXPECT_EQ(grid.item(5, c)->background().color(), bg);
        EXPECT_EQ(grid.item(5, c)->foreground().color(), fg);
    }
    EXPECT_EQ(grid.rowColours(5).first, bg);
    typeInto(5, 2, "edited");
    EXPECT_EQ(grid.item(5, 2)->background().color(), bg);

    grid.clearRowColours(5);
    EXPECT_FALSE(grid.rowColours(5).first.isValid());
    for (int c = 0; c < 3; ++c) EXPECT_EQ(grid.item(5, c)->data(Qt::BackgroundRole), QVariant());
    EXPECT_EQ(grid.cellText(5, 0), "x") << "colours only, text stays";
    grid.ensureRowVisible(19);   // scrolls without complaint
}

TEST_F(GridFixture, ReadOnlyDropsAnOpenEditorAndRefusesEdits)
{
    QSignalSpy spy(&grid, &CGridCtrl::cellEdited);
    ASSERT_TRUE(grid.editCell(1, 2));
    auto* edit = grid.findChild<QLineEdit*>("gridEditor");
    ASSERT_NE(edit, nullptr);
    edit->setText("half typed");
    grid.setReadOnly(true);
    EXPECT_TRUE(grid.isReadOnly());
    EXPECT_FALSE(editorOpen());
    QCoreApplication::processEvents();
    EXPECT_EQ(grid.cellText(1, 2), "");
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(grid.editCell(1, 2));
    grid.setCurrentCell(2, 2);
    QTest::keyClick(grid.viewport(), Qt::Key_A);
    EXPECT_FALSE(editorOpen());

    grid.setReadOnly(false);
    typeInto(2, 2, "now");
    EXPECT_EQ(grid.cellText(2, 2), "now");
    EXPECT_EQ(spy.count(), 1);
}

} // namespace
